#!/bin/bash
# Installs what is missing, builds, and runs every test (as root: the
# whole-run tests use a private mount namespace).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j"$(nproc)"
