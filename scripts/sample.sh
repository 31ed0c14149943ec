#!/usr/bin/env bash
# Sets up what is missing, builds, and converts the bundled sample export into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j2
mkdir -p out
if [ -x build/src/mailvane ]; then
  status=0
  build/src/mailvane examples/zimbra-export out || status=$?
  for pst in out/*.pst; do
    [ -e "$pst" ] && build/src/mailvane-pstcheck --tree "$pst"
  done
  # With a display (and not in CI), the desktop window opens as well.
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${CI:-}" ] && [ -x build/src/mailvane-gui ]; then
    build/src/mailvane-gui >/dev/null 2>&1 &
  fi
  exit "$status"
else
  build/src/mailvane-pstcheck --help
fi
