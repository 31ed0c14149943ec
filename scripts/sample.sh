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
[ -n "$pst" ] && build/src/mailvane-pstcheck --tree "$pst"
# With a display (and not in CI), the desktop window opens as well.
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${CI:-}" ]; then
  build/src/mailvane-gui >/dev/null 2>&1 &
fi
exit "$status"
