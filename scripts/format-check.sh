#!/bin/bash
# Fails when a C++ source is not as clang-format (.clang-format) lays it
# out. The declarations of Apple's headers in scripts/macos-sdk keep
# Apple's layout.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
git ls-files '*.cpp' '*.h' | grep -v '^scripts/macos-sdk/' | xargs clang-format --dry-run -Werror
echo "format-check: $(git ls-files '*.cpp' '*.h' | grep -vc '^scripts/macos-sdk/') sources as clang-format lays them out"
