#!/usr/bin/env bash
# Sets up what is missing, builds the programs (not the tests) and converts the bundled
# sample export into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target mailvane mailvane-pstcheck mailvane-gui
mkdir -p out
status=0
build/src/mailvane examples/zimbra-export out || status=$?
pst=$(ls -t out/*.pst 2>/dev/null | head -n 1 || true)
if [ -n "$pst" ]; then
  build/src/mailvane-pstcheck --tree "$pst"
  # What the items keep beyond their text, as an independent reader (pypff) sees it: the
  # recurring series, the meeting in the second calendar, the task list's task and the
  # flagged, tagged message.
  if /usr/bin/python3 -c 'import pypff' 2>/dev/null; then
    /usr/bin/python3 tests/support/pypff_read.py props "$pst" | awk -F'\t' '
      $1 == "ITEM" { show = ($3 ~ /^(Weekly sync|Planning review|Renew passport|Quarterly figures)$/)
                     if (show) print "\n" $2 ": " $3; next }
      show && $1 == "P" && $2 ~ /^(Appointment:0x8232|Appointment:0x8234|Task:0x8101|Task:0x8102|0x0036|Common:0x8501|0x1090|Common:0x8530|0x1081|PublicStrings:Keywords)$/ {
        print "  " $2 " = " $3 }'
  fi
fi
# With a display (and not in CI), the desktop window opens as well.
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${CI:-}" ]; then
  build/src/mailvane-gui >/dev/null 2>&1 &
fi
exit "$status"
