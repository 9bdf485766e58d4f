#!/usr/bin/env bash
# Usage: full_disk.sh LORVANTA_BINARY [SCREENSHOT_FOLDER]
# Runs the real program under Xvfb with its temporary folder and a save destination each on
# a 256 KiB tmpfs: a save of a text too long for the temporary folder shows a warning and
# writes nothing; a save over an existing file on a full disk shows a warning and keeps the
# old file as it was. Mounting needs root; without it the script says so and passes.
set -uo pipefail

app="${1:?usage: $0 LORVANTA_BINARY [SCREENSHOT_FOLDER]}"
app="$(cd "$(dirname "$app")" && pwd)/$(basename "$app")"
shots="${2:-}"
here="$(cd "$(dirname "$0")" && pwd)"
name=full_disk
# shellcheck source=tests/e2e/lib/common.sh
source "$here/lib/common.sh"
run_with_sound_server "$@"

make_work lorvanta-e2e
mounts=()
cleanup_more() { for m in "${mounts[@]}"; do umount -l "$m" 2>/dev/null; done; }

shot() {
  [ -n "$shots" ] || return 0
  mkdir -p "$shots"
  import -window root "$shots/$1.png"
}

mkdir -p "$work/tmp" "$work/out" "$work/runtime"
chmod 700 "$work/runtime"
for disk in "$work/tmp" "$work/out"; do
  if ! mount -t tmpfs -o size=256k tmpfs "$disk" 2>/dev/null; then
    echo "full_disk: skipped (no tmpfs can be mounted here)"
    exit 0
  fi
  mounts+=("$disk")
done
use_work_home
export XDG_RUNTIME_DIR="$work/runtime"

start_xvfb
start_program "$app"
find_main_window

# Puts `text` into the text view and presses Save (two steps back from the text view).
type_and_save() {
  click_text_view
  xdotool key ctrl+a BackSpace
  xdotool type --delay 5 "$1"
  sleep 0.2
  xdotool key shift+Tab shift+Tab
  sleep 0.1
  xdotool key space
}

panel_open() { xdotool search --onlyvisible --name '^Save$' >/dev/null 2>&1; }
warned() { grep -q -x -F "$1" "$work/app.err"; }

# 1. About twenty seconds of speech; the temporary folder holds six.
sentence="This sentence is spoken again and again until the small disk is full. "
long=""
for _ in $(seq 6); do long+="$sentence"; done
type_and_save "$long"
synth_warning="The speech could not be synthesised: No space left on device."
wait_for 60 warned "$synth_warning" || fail "no warning of the failed synthesis"
sleep 0.5
shot synthesis-warning
panel_open && fail "the save panel opened after a failed synthesis"
[ -z "$(ls -A "$work/tmp")" ] || fail "the failed synthesis left $(ls -A "$work/tmp")"
[ -z "$(ls -A "$work/out")" ] || fail "something was written: $(ls -A "$work/out")"
xdotool key Return
sleep 0.5
echo "synthesis: warned, nothing written"

# 2. A short text fits the temporary folder, but not the destination's disk.
sox -n -r 22050 -b 16 -c 1 "$work/out/old.wav" synth 1 sine 440 || fail "sox"
dd if=/dev/zero of="$work/out/filler" bs=1k count=170 status=none
cp "$work/out/old.wav" "$work/old-copy.wav"
type_and_save "Hello there. This short text is saved over an old file."
wait_for 60 panel_open || fail "the save panel did not open"
sleep 0.5
xdotool key ctrl+a
xdotool type --delay 10 "$work/out/old.wav"
xdotool key Return
sleep 0.5
# The panel asks whether to replace the file.
xdotool key alt+y
save_warning="The speech could not be saved to 'old.wav': No space left on device."
wait_for 60 warned "$save_warning" || fail "no warning of the failed save"
sleep 0.5
shot save-warning
cmp -s "$work/out/old.wav" "$work/old-copy.wav" || fail "the old file changed"
[ "$(ls -A "$work/out" | sort | tr '\n' ' ')" = "filler old.wav " ] || fail "left in the folder: $(ls -A "$work/out")"
[ "$(grep -c -x "file://$work/out/old.wav" "$work/app.out")" -eq 2 ] || fail "the URL lines are missing"
xdotool key Return
echo "save: warned, old file kept byte for byte"

echo "full_disk: passed"
