#!/usr/bin/env bash
# Installs everything the project needs to build and test on Debian 12. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  jlha-utils lhasa zip bc arj arc gzip ncompress sharutils gcab tar
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libjpeg-dev
  xvfb xauth xdotool x11-utils imagemagick
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
