#!/bin/bash
# Configures and builds into build/ (or $BUILD_DIR); extra arguments go to
# cmake. TARNWELL_WERROR=ON makes warnings errors, as CI does.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWELL_WERROR="${TARNWELL_WERROR:-OFF}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
