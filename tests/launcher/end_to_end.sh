#!/usr/bin/env bash
# The real launcher in a real X server: a fresh demo medium and a fresh private temporary
# directory, then the guided tour, which checks every step. Skips (77) without Xvfb or xdotool.
#   end_to_end.sh TARSEL QUERN SOURCE_ROOT
set -euo pipefail
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done
tarsel="$1"
quern="$2"
root="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp"
export TMPDIR="$work/tmp"
"$root/scripts/make-demo-medium.sh" "$quern" "$work/medium" 40 "$work/stage" >/dev/null
mkdir -p "$PWD/artifacts"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$root/scripts/launcher-tour.sh" "$tarsel" "$work/medium" "$work/stage" "$PWD/artifacts"
