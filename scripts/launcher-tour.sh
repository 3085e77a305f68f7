#!/usr/bin/env bash
# Drives the real Tarsel in an X server with xdotool and checks what a person would see:
# "intro.exe" starts; "MATERI I" unpacks materi1.nsz into the private temporary directory while
# the progress window shows at 461, 525; the material's "pilihbahasa.exe" starts from there;
# "MATERI II" without its archive shows the message box; the close button ends the program.
#   scripts/launcher-tour.sh TARSEL MEDIUM_DIR STAGE_DIR ARTIFACT_DIR
# Needs DISPLAY (run it under xvfb-run), xdotool and ImageMagick's import. Exits non-zero with
# a message on the first thing that is not as it should be.
set -euo pipefail
tarsel="$(realpath "$1")"
medium="$(realpath "$2")"
stage="$(realpath "$3")"
artifacts="$(realpath "$4")"

log="$(mktemp)"
export TARSEL_DEMO_LOG="$log"
tarsel_pid=""
cleanup() {
  [ -n "$tarsel_pid" ] && kill "$tarsel_pid" 2>/dev/null || true
  rm -f "$log"
}
trap cleanup EXIT
fail() { echo "tour: $*" >&2; exit 1; }

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local seconds="$1"; shift
  local end=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.05
  done
}
tarsel_windows() { xdotool search --onlyvisible --pid "$tarsel_pid" 2>/dev/null || true; }
# "X Y W H" of a window.
geometry() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  echo "$X $Y $WIDTH $HEIGHT"
}
window_with_size() {
  local w
  for w in $(tarsel_windows); do
    read -r _ _ width height <<<"$(geometry "$w")"
    if [ "$width" = "$1" ] && [ "$height" = "$2" ]; then echo "$w"; return 0; fi
  done
  return 1
}

cd "$medium"
"$tarsel" &
tarsel_pid=$!

wait_for 20 window_with_size 583 210 || fail "the menu window did not appear"
menu="$(window_with_size 583 210)"
wait_for 10 grep -q "^intro started" "$log" || fail "intro.exe was not started"
read -r mx my _ _ <<<"$(geometry "$menu")"
sleep 0.5
import -window "$menu" "$artifacts/tarsel-menu.png" || fail "no screenshot"

# MATERI I: the progress window shows at its place while the archive is unpacked.
xdotool mousemove $((mx + 184)) $((my + 140)) click 1
seen_progress=""
end=$((SECONDS + 60))
while [ "$SECONDS" -lt "$end" ] && ! grep -q "^pilihbahasa materi1" "$log"; do
  if p="$(window_with_size 374 48)"; then
    read -r px py _ _ <<<"$(geometry "$p")"
    [ "$px $py" = "461 525" ] || fail "progress window at $px, $py"
    seen_progress=1
  fi
  sleep 0.02
done
[ -n "$seen_progress" ] || fail "the progress window was never seen"
grep -q "^pilihbahasa materi1 started from ${TMPDIR:-/tmp}/tarsel-$(id -u)$" "$log" ||
  fail "pilihbahasa.exe of materi1 was not started from the temporary directory: $(cat "$log")"
temp="${TMPDIR:-/tmp}/tarsel-$(id -u)"
[ "$(stat -c %a "$temp")" = 700 ] || fail "the temporary directory is not private"
diff -r "$stage/materi1" "$temp" >/dev/null || fail "the unpacked files differ from the material"

# MATERI II without its archive: the message box, then nothing else.
mv "$medium/materi2.nsz" "$medium/materi2.nsz.away"
xdotool mousemove $((mx + 320)) $((my + 140)) click 1
wait_for 10 test "$(tarsel_windows | wc -l)" -ge 2 || fail "no message box for a missing archive"
import -window root "$artifacts/tarsel-message.png" || true
xdotool key Return
wait_for 10 test "$(tarsel_windows | wc -l)" -eq 1 || fail "the message box stayed"
mv "$medium/materi2.nsz.away" "$medium/materi2.nsz"
if grep -q "^pilihbahasa materi2" "$log"; then fail "a missing material started a program"; fi

# The close button ends the program.
xdotool mousemove $((mx + 566)) $((my + 13)) click 1
wait_for 10 bash -c "! kill -0 $tarsel_pid" || fail "the close button did not end the program"
tarsel_pid=""
echo "tour: all well"
