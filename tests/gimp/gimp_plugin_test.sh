#!/usr/bin/env bash
# Runs the real GIMP 2.10 (gimp-console, no display) with file-kavel installed in a temporary
# GIMP folder. One batch opens grey and colour files of odd sizes with gimp-file-load, a window
# at scale 2 with file-kavel-load-region and a thumbnail, opens a file interactively (the viewer
# dialog of KAVEL.8bi, confirmed at once through KAVEL_DIALOG_ANSWER), exports an image to .kvl
# and opens that again, saving every result as PNG; a second batch cancels the viewer dialog.
# Then checks the pixels against `kavel decode` and `plugin-host`, and the exported file against
# `kavel encode` with the same settings.
#
# usage: gimp_plugin_test.sh FILE_KAVEL KAVEL_MODULE KAVEL_TOOL PLUGIN_HOST PHOTO_DIR
#                            GIMP_PLUGIN_DIR
#   GIMP_PLUGIN_DIR: GIMP's own plug-in folder (Script-Fu and the PNG plug-in are taken from it)
set -euo pipefail
plugin=$1 module=$2 kavel=$3 plugin_host=$4 photos=$5 system_plugins=$6
python=/usr/bin/python3

work=$(mktemp -d "${TMPDIR:-/tmp}/kavel-gimp-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
export GIMP2_DIRECTORY="$work/gimp-profile"
mkdir -p "$GIMP2_DIRECTORY/plug-ins/file-kavel" "$GIMP2_DIRECTORY/gradients"
# Only the plug-ins the batch needs: GIMP then registers three instead of over a hundred.
ln -s "$system_plugins/script-fu" "$system_plugins/file-png" "$GIMP2_DIRECTORY/plug-ins/"
echo '(plug-in-path "${gimp_dir}/plug-ins")' > "$GIMP2_DIRECTORY/gimprc"
cp "$plugin" "$GIMP2_DIRECTORY/plug-ins/file-kavel/file-kavel"
cp "$module" "$GIMP2_DIRECTORY/plug-ins/file-kavel/"

# Odd-sized pictures cut from the photographs: grey 257 x 131, colour 301 x 203.
"$python" - "$photos" "$work" <<'PY'
import sys
from PIL import Image
photos, work = sys.argv[1:]
Image.open(photos + "/camera.png").convert("L").crop((40, 60, 297, 191)).save(work + "/grey.pgm")
Image.open(photos + "/chelsea.png").convert("RGB").crop((70, 50, 371, 253)).save(work + "/colour.ppm")
PY
"$kavel" encode "$work/grey.pgm" "$work/grey.kvl" > /dev/null
"$kavel" encode "$work/colour.ppm" "$work/colour.kvl" > /dev/null
"$kavel" decode "$work/grey.kvl" -o "$work/grey-expected.pgm"
"$kavel" decode "$work/colour.kvl" -o "$work/colour-expected.ppm"
# The window reaches beyond the right edge of the quarter-size image (76 x 51): black there.
"$kavel" decode "$work/colour.kvl" --scale 2 --window 9,5,80,40 -o "$work/region-expected.ppm"
# A 40-pixel thumbnail of a 301-pixel-wide image: scale 2 (76 x 51) is the coarsest that is
# large enough.
"$kavel" decode "$work/colour.kvl" --scale 2 -o "$work/thumb-expected.ppm"
# The header and the start of the data, without the rest.
head -c 3000 "$work/colour.kvl" > "$work/damaged.kvl"
# The viewer dialog confirmed with its first values: what plugin-host delivers.
QT_QPA_PLATFORM=offscreen "$plugin_host" open "$work/colour.kvl" -o "$work/viewer-expected.png" \
  --accept --plugins "$(dirname "$module")" > /dev/null 2>&1
# GIMP exports what it opened: the decoded pixels.
"$kavel" encode "$work/colour-expected.ppm" "$work/export-expected.kvl" --quality 90 --levels 3 \
  > /dev/null

w=$work
script="
(define (save-png image path)
  (file-png-save RUN-NONINTERACTIVE image (car (gimp-image-get-active-drawable image))
                 path path 0 9 0 0 0 0 0))
(define (note text) (gimp-message text))
(let* ((grey (car (gimp-file-load RUN-NONINTERACTIVE \"$w/grey.kvl\" \"grey.kvl\")))
       (colour (car (gimp-file-load RUN-NONINTERACTIVE \"$w/colour.kvl\" \"colour.kvl\")))
       (region (car (file-kavel-load-region RUN-NONINTERACTIVE \"$w/colour.kvl\" 2 9 5 80 40)))
       (thumb (file-kavel-load-thumb \"$w/colour.kvl\" 40)))
  (save-png grey \"$w/grey.png\")
  (save-png colour \"$w/colour.png\")
  (save-png region \"$w/region.png\")
  (save-png (car thumb) \"$w/thumb.png\")
  (note (string-append \"thumb-info \" (number->string (cadr thumb)) \" \"
                       (number->string (caddr thumb))))
  (file-kavel-save RUN-NONINTERACTIVE colour (car (gimp-image-get-active-drawable colour))
                   \"$w/export.kvl\" \"export.kvl\" 90 3)
  (gimp-file-save RUN-NONINTERACTIVE grey (car (gimp-image-get-active-drawable grey))
                  \"$w/export-default.kvl\" \"export-default.kvl\")
  (save-png (car (gimp-file-load RUN-NONINTERACTIVE \"$w/export.kvl\" \"export.kvl\"))
            \"$w/export-back.png\"))
(let* ((viewed (car (gimp-file-load RUN-INTERACTIVE \"$w/colour.kvl\" \"colour.kvl\"))))
  (save-png viewed \"$w/viewer.png\")
  (note (string-append \"viewer-resolution \"
                       (number->string (car (gimp-image-get-resolution viewed))))))
"
# Failures come back as GIMP errors with the reason, and GIMP goes on.
failing_script="
(catch #f (file-kavel-load-region RUN-NONINTERACTIVE \"$w/colour.kvl\" 9 0 0 9 9))
(catch #f (gimp-file-load RUN-NONINTERACTIVE \"$w/damaged.kvl\" \"damaged.kvl\"))
(gimp-message (string-append \"images-after-failures \" (number->string (car (gimp-image-list)))))
"
cancel_script="
(gimp-file-load RUN-INTERACTIVE \"$w/colour.kvl\" \"colour.kvl\")
(gimp-message (string-append \"images-after-cancel \" (number->string (car (gimp-image-list)))))
"
# No display: the module shows its dialog on Qt's offscreen platform.
unset DISPLAY WAYLAND_DISPLAY
start=$(date +%s)
KAVEL_DIALOG_ANSWER=accept gimp-console-2.10 -i -d -f --no-shm -b "$script" -b "$failing_script" \
  -b '(gimp-quit 0)' \
  > "$work/gimp.log" 2>&1 || {
  cat "$work/gimp.log"; echo "gimp_plugin_test: gimp-console failed" >&2; exit 1; }
KAVEL_DIALOG_ANSWER=cancel gimp-console-2.10 -i -d -f --no-shm -b "$cancel_script" \
  -b '(gimp-quit 0)' > "$work/gimp-cancel.log" 2>&1 || {
  cat "$work/gimp-cancel.log"; echo "gimp_plugin_test: gimp-console failed" >&2; exit 1; }
echo "gimp-console took $(( $(date +%s) - start )) s (two runs)"

fail=0
check() { echo "$1"; "${@:2}" || { echo "  FAILED" >&2; fail=1; }; }
"$kavel" decode "$work/export.kvl" -o "$work/export-back-expected.ppm"
"$kavel" decode "$work/export-default.kvl" -o "$work/export-default-back.pgm"
"$kavel" encode "$work/grey-expected.pgm" "$work/export-default-expected.kvl" > /dev/null

same_pixels() {
  "$python" - "$1" "$2" <<'PY'
import sys
from PIL import Image
got, want = (Image.open(p) for p in sys.argv[1:])
if (got.mode, got.size) != (want.mode, want.size):
    sys.exit("  %s is %s %s, %s is %s %s" % (sys.argv[1], got.mode, got.size, sys.argv[2], want.mode, want.size))
differ = sum(a != b for a, b in zip(got.tobytes(), want.tobytes()))
if differ:
    sys.exit("  %d bytes differ between %s and %s" % (differ, sys.argv[1], sys.argv[2]))
PY
}
check "grey 257 x 131 opened by GIMP equals kavel decode" same_pixels "$w/grey.png" "$w/grey-expected.pgm"
check "colour 301 x 203 opened by GIMP equals kavel decode" same_pixels "$w/colour.png" "$w/colour-expected.ppm"
check "window at scale 2 equals kavel decode" same_pixels "$w/region.png" "$w/region-expected.ppm"
check "thumbnail is scale 2" same_pixels "$w/thumb.png" "$w/thumb-expected.ppm"
check "thumbnail reports the full size" grep -q "thumb-info 301 203" "$work/gimp.log"
check "export equals kavel encode --quality 90 --levels 3" cmp "$w/export.kvl" "$w/export-expected.kvl"
check "exported file opened again equals kavel decode" same_pixels "$w/export-back.png" "$w/export-back-expected.ppm"
check "viewer dialog confirmed: the region plugin-host delivers" same_pixels "$w/viewer.png" "$w/viewer-expected.png"
check "viewer dialog confirmed: the resolution chosen in it (72)" grep -q "viewer-resolution 72" "$work/gimp.log"
check "viewer dialog cancelled: no image" grep -q "images-after-cancel 0" "$work/gimp-cancel.log"
check "viewer dialog cancelled: no error" bash -c "! grep -qi error '$work/gimp-cancel.log'"
check "a scale the file lacks is an error that says so" grep -q "scale 9 is not in the file" "$work/gimp.log"
check "a damaged file is an error naming it" grep -q "Could not open '$w/damaged.kvl'" "$work/gimp.log"
check "failed loads leave no image behind (the six opened before)" grep -q "images-after-failures 6" "$work/gimp.log"
check "gimp-file-save exports with the defaults" cmp "$w/export-default.kvl" "$w/export-default-expected.kvl"
if (( fail )); then
  echo "--- gimp-console output"; cat "$work/gimp.log" "$work/gimp-cancel.log"
  exit 1
fi
echo "all GIMP checks passed"
