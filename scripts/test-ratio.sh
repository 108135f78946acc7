#!/bin/bash
# Tests against code, counted as the project's rule counts them: tracked
# C++ sources and headers, shell and Python scripts, and scripts without an
# ending; lines that are neither blank nor comments. In C++ a preprocessor
# line (#include, #if) is code; in shell and Python a # line is a comment.
# Fails above a third.
set -euo pipefail
cd "$(dirname "$0")/.."
files() { git ls-files -- "$@"; }
cpp() { files "$@" | grep -E '\.(cpp|cc|h|hpp)$' | xargs -r cat | grep -cvE '^\s*(//.*|/\*.*|\*( .*|/)?)?$' || true; }
script() { files "$@" | grep -E '\.(sh|py)$|(^|/)[^./]+$' | xargs -r cat | grep -cvE '^\s*(#.*)?$' || true; }
code=$(($(cpp src bench scripts) + $(script src bench scripts)))
tests=$(($(cpp tests) + $(script tests)))
echo "Lines of code: $code (src, bench, scripts); of tests: $tests (tests/) = $((100 * tests / code))% of the code"
[ $((3 * tests)) -le "$code" ] || { echo "test-ratio: tests are more than a third of the code" >&2; exit 1; }
