#!/usr/bin/env bash
# Takes the picture of the viewer dialog opened from GIMP's File > Open for the README: GIMP
# with file-kavel on a virtual display (Xvfb, openbox), File > Open, the file's path typed, Enter,
# and the screen once the dialog is up.
#
# usage: gimp/screenshot.sh BUILD_DIR OUT.png [FILE.kvl]
# Needs xvfb, openbox, xdotool, imagemagick and gimp (Debian packages).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build=$1 out=$2 file=${3:-}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
if [[ -z "$file" ]]; then
  file="$work/hubble_deep_field.kvl"
  "$build/tools/kavel" encode "$root/data/hubble_deep_field.png" "$file" > /dev/null
fi

export GIMP2_DIRECTORY="$work/profile"
mkdir -p "$GIMP2_DIRECTORY/plug-ins/file-kavel"
cp "$build/gimp/file-kavel" "$build/plugins/KAVEL.8bi" "$GIMP2_DIRECTORY/plug-ins/file-kavel/"

# Xvfb picks a free display number and writes it to the file.
Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3> "$work/display" > "$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 30); do
  [[ -s "$work/display" ]] && break
  sleep 1
done
export DISPLAY=":$(head -1 "$work/display")"
openbox > "$work/openbox.log" 2>&1 &
pids+=($!)
gimp-2.10 --no-splash > "$work/gimp.log" 2>&1 &
pids+=($!)

# GIMP registers its plug-ins on the first start: wait for its image window.
find_window() { xdotool search --onlyvisible --name "$1" 2> /dev/null | head -1; }
wait_for_window() {
  for _ in $(seq 1 "$2"); do
    [[ -n "$(find_window "$1")" ]] && return 0
    sleep 1
  done
  echo "screenshot: no window \"$1\" appeared; the screen is in ${out%.png}-failed.png" >&2
  import -window root "${out%.png}-failed.png"
  exit 1
}
wait_for_window "GNU Image Manipulation Program" 300
sleep 5
# A click on the empty canvas gives GIMP the keyboard; then File > Open.
xdotool mousemove --window "$(find_window "GNU Image Manipulation Program")" 500 400 click 1
sleep 1
xdotool key ctrl+o
wait_for_window "Open Image" 30
sleep 2
# The window manager may leave the keyboard where it was: a click in the file list takes it.
xdotool mousemove --window "$(find_window "Open Image")" 600 400 click 1
sleep 1
# A slash opens the location entry; once it is there, the whole path replaces what it holds.
xdotool type "/"
sleep 2
xdotool key ctrl+a
xdotool type --delay 120 "$file"
sleep 1
xdotool key Return
# The viewer dialog draws its thumbnail and previews when it first appears.
wait_for_window "Kavel Viewer" 60
sleep 4
import -window root "$out"
echo "wrote $out"
