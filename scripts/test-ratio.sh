#!/bin/bash
# Tests against code, counted as the project's rule counts them: tracked
# C++ sources and headers, shell and Python scripts, and scripts without an
# ending; lines that are neither blank nor comments. In C++ a preprocessor
# line (#include, #if) is code; in shell and Python a # line is a comment.
# Fails when the tests are above a third of the code.
#
# The stand-ins of Apple's calls (tests/apple), which let the tool's macOS
# branches run here, are test code too: they are counted and shown apart,
# with the figure they make together, so that the cost of running the Mac
# half on Linux stays in sight.
set -euo pipefail
cd "$(dirname "$0")/.."
files() { git ls-files -- "$@"; }
cpp() { files "$@" | grep -E '\.(cpp|cc|h|hpp)$' | xargs -r cat | grep -cvE '^\s*(//.*|/\*.*|\*( .*|/)?)?$' || true; }
script() { files "$@" | grep -E '\.(sh|py)$|(^|/)[^./]+$' | xargs -r cat | grep -cvE '^\s*(#.*)?$' || true; }
code=$(($(cpp src bench scripts) + $(script src bench scripts)))
apple=$(($(cpp tests/apple) + $(script tests/apple)))
tests=$(($(cpp tests) + $(script tests) - apple))
echo "Lines of code: $code (src, bench, scripts); of tests: $tests (tests/) = $((100 * tests / code))% of the code;" \
  "with the Apple stand-ins ($apple, tests/apple): $((100 * (tests + apple) / code))%"
[ $((3 * tests)) -le "$code" ] || { echo "test-ratio: tests are more than a third of the code" >&2; exit 1; }
