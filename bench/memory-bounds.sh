#!/usr/bin/env bash
# Peak memory of `quern x` on a hostile archive whose entries claim 4 GiB each and on a real
# 64 MB one: extraction needs a fixed amount beside its I/O buffers, whatever sizes an archive
# claims.
#   bench/memory-bounds.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target quern-cli quern_bench >/dev/null
quern="$PWD/build/quern"
bench="$PWD/build/bench/quern_bench"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$bench" hostile "$work/hostile.bh"
mkdir -p "$work/src"
"$bench" mixed 64 "$work/src/mixed.bin"
(cd "$work/src" && "$quern" a -m deflate "$work/real-deflate.bh" mixed.bin)
(cd "$work/src" && "$quern" a -m store "$work/real-stored.bh" mixed.bin)

peak() {  # peak resident set of a command, in KiB
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1
}
printf '%-34s %12s %14s\n' archive "peak KiB" "written bytes"
for archive in hostile.bh real-deflate.bh real-stored.bh; do
  rm -rf "$work/out"
  kib=$(peak "$quern" x "$work/$archive" -d "$work/out" || true)
  written=$(du -sb "$work/out" 2>/dev/null | cut -f1)
  printf '%-34s %12s %14s\n' "$archive" "$kib" "${written:-0}"
done
