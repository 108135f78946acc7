#!/bin/bash
# Tests against code, counted as the project's rule counts them: tracked
# .cpp, .h, .sh and .py files and scripts without an ending, lines that are
# neither blank nor comments. Fails above 40%.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { git ls-files -- "$@" | grep -E '\.(cpp|cc|h|hpp|sh|py)$|(^|/)[^./]+$' | xargs -r cat | grep -cvE '^\s*(//.*|#.*)?$'; }
code=$(count src bench scripts)
tests=$(count tests)
echo "Lines of code: $code (src, bench, scripts); of tests: $tests (tests/) = $((100 * tests / code))% of the code"
[ $((100 * tests)) -le $((40 * code)) ] || { echo "test-ratio: tests are more than 40% of the code" >&2; exit 1; }
