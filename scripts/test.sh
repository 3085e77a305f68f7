#!/usr/bin/env bash
# Builds the project and runs every test suite.
#   scripts/test.sh              optimised build in build/
#   scripts/test.sh --sanitize   address + undefined-behaviour sanitizers, in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUERN_TESTS=ON)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  options=(-DCMAKE_BUILD_TYPE=Debug -DQUERN_SANITIZE=ON -DQUERN_TESTS=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

cmake -S . -B "$dir" -G Ninja "${options[@]}"
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
