#!/bin/bash
# The test suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
# and the fuzz target (clang, libFuzzer) run over its corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=build-asan bash scripts/build.sh -DTARNWELL_SANITIZE=ON -DTARNWELL_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
  -DTARNWELL_WERROR="${TARNWELL_WERROR:-OFF}" -DTARNWELL_FUZZ=ON -DTARNWELL_TESTS=OFF -DTARNWELL_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target attach_result_fuzz
build-fuzz/attach_result_fuzz -runs=0 tests/fuzz/corpus
echo "fuzz corpus: $(ls tests/fuzz/corpus | wc -l) inputs read without a fault"
