#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each on a copy of its seeds.
#   fuzz/run.sh [SECONDS]   default 60 seconds a target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUERN_FUZZ=ON -DQUERN_TESTS=OFF -DQUERN_LAUNCHER=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for target in identify unbh mask inflate lzh pe ziplocator lha lha_lh1; do
  mkdir -p "$work/$target"
  echo "== ${target}_fuzz for ${seconds}s"
  build-fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -artifact_prefix="$work/" "$work/$target" "fuzz/corpus/$target"
done
