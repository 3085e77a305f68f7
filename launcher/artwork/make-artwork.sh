#!/usr/bin/env bash
# Rebuilds the launcher's artwork from scratch: builds tarsel_artwork and has it rewrite
# background.jpg and close.bmp next to this script. Commit the files it writes.
#   launcher/artwork/make-artwork.sh [BUILD_DIR]   (default: build-artwork at the repository top)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-$root/build-artwork}"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUERN_TESTS=OFF
fi
ninja -C "$build" tarsel_artwork

runtime="$(mktemp -d)"
trap 'rm -rf "$runtime"' EXIT
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" "$build/launcher/tarsel_artwork" "$here"
