#!/usr/bin/env bash
# Side by side with a peer unpacker on the same coded data: jlha packs mixed data as -lh5- and
# -lh6-; the peer (lhasa) extracts that LHA archive, and `quern x` extracts a BH archive whose
# method 1 and method 3 entries carry exactly the same packed bytes. Then both extract the very
# same LHA archives, of at least 64 MB each: -lh5-, -lh6- and -lh7- packed by jlha, -lh1- by the
# tests' encoder (jlha writes no -lh1-). Prints the best of several runs of each and the ratio
# (quern time / peer time; below 1 means quern is faster).
#   bench/compare-peers.sh [MB_PER_FILE] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
mb="${1:-16}"
runs="${2:-5}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target quern-cli quern_bench >/dev/null
root="$PWD"
quern="$root/build/quern"
bench="$root/build/bench/quern_bench"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src"
for i in 1 2 3; do "$bench" mixed "$mb" "$work/src/part$i.bin" "$i"; done
total=$(du -cb "$work"/src/*.bin | tail -1 | cut -f1)

# Best wall-clock seconds of "$@" over $runs runs, each into a fresh directory.
best() {
  local out="$1"; shift
  local best=""
  for _ in $(seq "$runs"); do
    rm -rf "$out"; mkdir -p "$out"
    local start end t
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best="$t"; fi
  done
  echo "$best"
}

printf '%-8s %10s %12s %12s %8s\n' method "MB" "lhasa MB/s" "quern MB/s" ratio
for option in o5 o6; do
  (cd "$work/src" && jlha "a2${option}q" "../$option.lzh" part1.bin part2.bin part3.bin >/dev/null)
  "$bench" bh-from-lha "$work/$option.lzh" "$work/src" "$work/$option.bh"

  peer=$(best "$work/peer" lhasa "xqfw=$work/peer" "$work/$option.lzh")
  ours=$(best "$work/ours" "$quern" x "$work/$option.bh" -d "$work/ours")
  for f in part1.bin part2.bin part3.bin; do
    cmp -s "$work/src/$f" "$work/peer/$f" || { echo "lhasa output differs: $f" >&2; exit 1; }
    cmp -s "$work/src/$f" "$work/ours/$f" || { echo "quern output differs: $f" >&2; exit 1; }
  done
  method=$([ "$option" = o5 ] && echo "lh5/BH1" || echo "lh6/BH3")
  printf '%-8s %10.1f %12.1f %12.1f %8.2f\n' "$method" "$(echo "$total / 1000000" | bc -l)" \
    "$(echo "$total / 1000000 / $peer" | bc -l)" "$(echo "$total / 1000000 / $ours" | bc -l)" \
    "$(echo "$ours / $peer" | bc -l)"
done

# LHA archives, the same file for both: three parts of at least 22 MB each.
lha_mb=$(( mb > 22 ? mb : 22 ))
mkdir -p "$work/lha-src"
for i in 1 2 3; do "$bench" mixed "$lha_mb" "$work/lha-src/part$i.bin" "$((i + 3))"; done
lha_total=$(du -cb "$work"/lha-src/*.bin | tail -1 | cut -f1)
for method in lh1 lh5 lh6 lh7; do
  archive="$work/$method.lzh"
  if [ "$method" = lh1 ]; then
    "$bench" lh1-lzh "$archive" "$work"/lha-src/part1.bin "$work"/lha-src/part2.bin \
      "$work"/lha-src/part3.bin
  else
    (cd "$work/lha-src" && jlha "a2o${method#lh}q" "$archive" part1.bin part2.bin part3.bin >/dev/null)
  fi
  peer=$(best "$work/peer" lhasa "xqfw=$work/peer" "$archive")
  ours=$(best "$work/ours" "$quern" x "$archive" -d "$work/ours")
  for f in part1.bin part2.bin part3.bin; do
    cmp -s "$work/lha-src/$f" "$work/peer/$f" || { echo "lhasa output differs: $f" >&2; exit 1; }
    cmp -s "$work/lha-src/$f" "$work/ours/$f" || { echo "quern output differs: $f" >&2; exit 1; }
  done
  printf '%-8s %10.1f %12.1f %12.1f %8.2f\n' "LHA $method" "$(echo "$lha_total / 1000000" | bc -l)" \
    "$(echo "$lha_total / 1000000 / $peer" | bc -l)" "$(echo "$lha_total / 1000000 / $ours" | bc -l)" \
    "$(echo "$ours / $peer" | bc -l)"
  rm -f "$archive"
done
