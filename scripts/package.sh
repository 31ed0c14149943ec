#!/usr/bin/env bash
# Sets up what is missing, builds the programs and writes the Debian package
# build/mailvane_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target mailvane mailvane-pstcheck mailvane-gui
(cd build && cpack -G DEB)
