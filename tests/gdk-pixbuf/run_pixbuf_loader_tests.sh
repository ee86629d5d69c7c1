#!/usr/bin/env bash
# The gdk-pixbuf loader in real use: registered in a temporary loaders cache, with the Kavel file
# type in a temporary shared-mime-info database (gdk-pixbuf picks loaders by file type), it
# loads Kavel files made by `kavel encode` from the bundled photographs through
# gdk_pixbuf_new_from_file, gdk_pixbuf_new_from_file_at_size, a fed GdkPixbufLoader and the real
# gdk-pixbuf-thumbnailer; pixels are compared with `kavel decode`.
#
# usage: run_pixbuf_loader_tests.sh KAVEL LOADER CHECK DATA_DIR REGRESSION_DIR
set -euo pipefail
(( $# == 5 )) || { sed -n '2,8p' "$0" >&2; exit 2; }
kavel=$1 loader=$2 check=$3 data=$4 regression=$5

thumbnailer=$(command -v gdk-pixbuf-thumbnailer) ||
  { echo "FAIL: gdk-pixbuf-thumbnailer is missing (libgdk-pixbuf2.0-bin)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/home"
source "$(dirname "$0")/../../integrations/gdk-pixbuf/use_uninstalled.sh" "$loader" "$work" ||
  { echo "FAIL: the loader cannot be registered" >&2; exit 1; }

status=0
run() {  # run DESCRIPTION COMMAND...: runs a check, reports it, remembers a failure
  local description=$1
  shift
  if "$@"; then echo "ok   $description"; else echo "FAIL $description" >&2; status=1; fi
}

# Test files: colour of odd size, grey, colour whose 256 thumbnail is exactly scale 1.
for name in chelsea camera astronaut; do
  "$kavel" encode "$data/$name.png" "$work/$name.kvl" > /dev/null
done
# A larger file (about 460 KB): its small sizes are decoded from its first bytes as they arrive.
"$kavel" encode "$data/hubble_deep_field.png" "$work/hubble.kvl" --step 4 > /dev/null
"$kavel" decode "$work/hubble.kvl" --scale 3 -o "$work/hubble-3.raw"
"$kavel" decode "$work/chelsea.kvl" -o "$work/chelsea-0.raw"
"$kavel" decode "$work/chelsea.kvl" --scale 1 -o "$work/chelsea-1.raw"
"$kavel" decode "$work/chelsea.kvl" --scale 2 -o "$work/chelsea-2.raw"
"$kavel" decode "$work/camera.kvl" -o "$work/camera-0.raw"
"$kavel" decode "$work/camera.kvl" --scale 1 -o "$work/camera-1.raw"
"$kavel" decode "$work/astronaut.kvl" --scale 1 -o "$work/astronaut-1.raw"

run "file info: format kavel, 451 x 300" "$check" info "$work/chelsea.kvl" 451 300
run "colour 451 x 300 at full size (from file and fed)" \
  "$check" pixels "$work/chelsea.kvl" "$work/chelsea-0.raw" 451 300 3
run "colour at 226 x 150: scale 1 exactly" \
  "$check" pixels "$work/chelsea.kvl" "$work/chelsea-1.raw" 226 150 3 226 150
run "colour at 100 x 100: scale 2 (113 x 75) resampled by gdk-pixbuf" \
  "$check" resampled "$work/chelsea.kvl" "$work/chelsea-2.raw" 113 75 3 100 100
run "460 KB file at 125 x 109: scale 3, from the first bytes that arrive" \
  "$check" pixels "$work/hubble.kvl" "$work/hubble-3.raw" 125 109 3 125 109
run "grey 512 x 512 at full size (from file and fed)" \
  "$check" pixels "$work/camera.kvl" "$work/camera-0.raw" 512 512 1
run "grey at 256 x 256: scale 1" \
  "$check" pixels "$work/camera.kvl" "$work/camera-1.raw" 256 256 1 256 256

for name in astronaut camera; do
  planes=3
  [[ $name == camera ]] && planes=1
  if "$thumbnailer" -s 256 "$work/$name.kvl" "$work/$name-thumb.png"; then
    run "gdk-pixbuf-thumbnailer -s 256 $name.kvl: scale 1" \
      "$check" pixels "$work/$name-thumb.png" "$work/$name-1.raw" 256 256 "$planes"
  else
    echo "FAIL gdk-pixbuf-thumbnailer -s 256 $name.kvl" >&2
    status=1
  fi
done

# Damaged files: cut inside the header, cut after it, cut in the middle (whose coarse scales may
# still be whole: small sizes may load), the magic followed by another file's bytes.
head -c 10 "$work/chelsea.kvl" > "$work/cut-10.kvl"
head -c 23 "$work/chelsea.kvl" > "$work/cut-23.kvl"
head -c "$(( $(stat -c %s "$work/chelsea.kvl") / 2 ))" "$work/chelsea.kvl" > "$work/cut-half.kvl"
{ printf 'kvel'; head -c 4000 "$data/camera.png"; } > "$work/magic-then-png.kvl"
damaged=("$work"/cut-10.kvl "$work"/cut-23.kvl "$work"/cut-half.kvl "$work"/magic-then-png.kvl)
run "damaged files give a GError at full size" "$check" damaged "${damaged[@]}"
for file in "${damaged[@]}"; do
  code=0
  "$thumbnailer" -s 256 "$file" "$work/damaged-thumb.png" 2> /dev/null || code=$?
  if (( code == 0 || code >= 128 )); then
    echo "FAIL gdk-pixbuf-thumbnailer on $(basename "$file"): exit status $code" >&2
    status=1
  fi
done
echo "ok   gdk-pixbuf-thumbnailer refuses the damaged files without crashing"
run "hostile files of the regression suite load or give a GError" \
  "$check" survives "$regression"/*.kvl
exit $status
