#!/bin/bash
# Every test again, under the Apple personality: the tool's macOS branches
# (fcopyfile, renameatx_np, file flags, kqueue, CoreFoundation, ...) built
# on Linux against the stand-ins of Apple's calls in tests/apple.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=build-apple bash scripts/build.sh -DTARNWELL_APPLE_STANDINS=ON -DTARNWELL_BENCH=OFF
ctest --test-dir build-apple --output-on-failure -j"$(nproc)"
