#!/usr/bin/env bash
# Prepares a demo distribution medium: "intro.exe" and the material archives "materi1.nsz" to
# "materi3.nsz", packed with `quern a` from demo/ as a course publisher would. Each archive
# carries its own "pilihbahasa.exe" and a few larger files so that the progress bar moves.
#   scripts/make-demo-medium.sh QUERN MEDIUM_DIR [MB_PER_MATERIAL] [STAGE_DIR]
# STAGE_DIR, when given, keeps the files the archives were made from (for comparisons).
set -euo pipefail
quern="$(realpath "$1")"
medium="$2"
mb="${3:-24}"
root="$(cd "$(dirname "$0")/.." && pwd)"

stage="${4:-}"
if [ -z "$stage" ]; then
  stage="$(mktemp -d)"
  trap 'rm -rf "$stage"' EXIT
fi
rm -rf "$medium"
mkdir -p "$medium" "$stage"
medium="$(realpath "$medium")"
cp "$root/demo/intro.exe" "$medium/"

# The three materials share one set of pages; each names its own material.
roman=(I II III)
for n in 1 2 3; do
  dir="$stage/materi$n"
  rm -rf "$dir"
  cp -r "$root/demo/materi" "$dir"
  find "$dir" -type f -exec sed -i "s/@ROMAN@/${roman[n - 1]}/g" {} +
  sed "s/@MATERIAL@/materi$n/" "$root/demo/pilihbahasa.exe.in" > "$dir/pilihbahasa.exe"
  mkdir -p "$dir/media"
  # Recorded lessons compress a little, pictures hardly at all.
  head -c $((mb * 1000000 / 4)) /dev/urandom | base64 -w 76 > "$dir/media/rekaman.txt"
  head -c $((mb * 1000000 / 3)) /dev/urandom > "$dir/media/gambar.dat"
  (cd "$dir" && "$quern" a -m deflate "$medium/materi$n.nsz" .)
done
echo "Demo medium ready in $medium"
