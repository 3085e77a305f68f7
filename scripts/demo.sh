#!/usr/bin/env bash
# Builds quern, packs the demo course material into a BH archive as a publisher would, and
# unpacks it into the user's temporary directory as the launcher does.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target quern-cli

medium=build/demo-medium
target="${TMPDIR:-/tmp}/tarsel-demo-$(id -u)"
rm -rf "$medium" "$target"
mkdir -p "$medium"
(cd demo/materi1 && ../../build/quern a -m store "../../$medium/materi1.nsz" .)
build/quern id "$medium/materi1.nsz"
build/quern x "$medium/materi1.nsz" -d "$target"
echo "Unpacked into $target:"
find "$target" -type f | sort
