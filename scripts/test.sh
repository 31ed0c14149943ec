#!/usr/bin/env bash
# Sets up what is missing, builds with warnings as errors and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset ci >/dev/null
cmake --build --preset ci -j2
MAILVANE_BUILD_DIR="$PWD/build-ci" ctest --preset ci
