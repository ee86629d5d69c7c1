#!/usr/bin/env bash
# GIMP opening a 1024 x 1024 window at full size from a large colour Kavel file with
# file-kavel-load-region: the time and peak memory of the plug-in process, GIMP's whole batch
# run against one that opens nothing, and for comparison GIMP opening the same 1024 x 1024
# pixels stored as PNG and `kavel decode` of the window.
#
# usage: bench/gimp_region.sh [-b BUILD_DIR] [-w WORK_DIR] [-s SIZE] [-r RUNS]
#   BUILD_DIR  a configured and built tree with file-kavel, KAVEL.8bi and kavel (default: build)
#   WORK_DIR   mosaics and Kavel files (default: /tmp/kavel-bench/huge, shared with
#              bench/huge/run_huge.sh; a mosaic-SIZE.kvl found there is reused)
#   SIZE       side of the colour mosaic (default 16384)
#   RUNS       runs of each measurement, the median is shown (default 3)
#
# Needs gimp-console-2.10 (Debian package gimp), /usr/bin/time (time), python3 and
# ImageMagick's convert for the mosaic (bench/huge/make_mosaic.py).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$root/build" work=/tmp/kavel-bench/huge size=16384 runs=3
while getopts "b:w:s:r:h" option; do
  case "$option" in
    b) build="$OPTARG" ;;
    w) work="$OPTARG" ;;
    s) size="$OPTARG" ;;
    r) runs="$OPTARG" ;;
    *) awk 'NR > 1 && !/^#/ { exit } NR > 1' "$0"; exit 2 ;;
  esac
done
plugin="$build/gimp/file-kavel"
module="$build/plugins/KAVEL.8bi"
kavel="$build/tools/kavel"
for f in "$plugin" "$module" "$kavel"; do
  [[ -x "$f" || -f "$f" ]] || { echo "gimp_region: $f is missing; build it first" >&2; exit 1; }
done
command -v gimp-console-2.10 > /dev/null || { echo "gimp_region: needs the gimp package" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "gimp_region: needs /usr/bin/time (package time)" >&2; exit 1; }

mkdir -p "$work"
kvl="$work/mosaic-$size.kvl"
if [[ ! -f "$kvl" ]]; then
  echo "== making and encoding the $size x $size colour mosaic" >&2
  python3 "$root/bench/huge/make_mosaic.py" "$size" "$work/mosaic-$size.ppm"
  "$kavel" encode "$work/mosaic-$size.ppm" "$kvl" >&2
  rm -f "$work/mosaic-$size.ppm"
fi
x0=$(( size / 2 - 512 )) y0=$(( size / 2 - 512 ))
x1=$(( x0 + 1023 )) y1=$(( y0 + 1023 ))

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export GIMP2_DIRECTORY="$scratch/profile"
folder="$GIMP2_DIRECTORY/plug-ins/file-kavel"
mkdir -p "$folder" "$GIMP2_DIRECTORY/gradients"
# Only the plug-ins the batch needs, taken from GIMP's own folder.
system_plugins="$(pkg-config --variable=gimplibdir gimp-2.0)/plug-ins"
ln -s "$system_plugins/script-fu" "$system_plugins/file-png" "$GIMP2_DIRECTORY/plug-ins/"
echo '(plug-in-path "${gimp_dir}/plug-ins")' > "$GIMP2_DIRECTORY/gimprc"
# (GIMP also runs every file in the folder whose name starts with the folder's name.)
cp "$plugin" "$folder/measured-plugin"
cp "$module" "$folder/"
# GIMP runs the plug-in through this wrapper, which records the plug-in's own time and memory.
cat > "$folder/file-kavel" <<WRAP
#!/bin/sh
/usr/bin/time -f "%e %M" -a -o "$scratch/plugin-times.txt" "$folder/measured-plugin" "\$@"
WRAP
chmod +x "$folder/file-kavel"

now() { echo "${EPOCHREALTIME/[.,]/}"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
gimp_batch() {  # gimp_batch SCRIPT: runs GIMP once; prints its wall time in seconds
  local t0 t1
  t0=$(now)
  gimp-console-2.10 -i -d -f --no-shm -b "$1" -b '(gimp-quit 0)' > "$scratch/gimp.log" 2>&1 ||
    { cat "$scratch/gimp.log" >&2; exit 1; }
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { print (b - a) / 1e6 }'
}
open_window="(let* ((image (car (file-kavel-load-region RUN-NONINTERACTIVE \"$kvl\" 0 $x0 $y0 $x1 $y1))))
  (gimp-image-delete image))"
"$kavel" decode "$kvl" --window "$x0,$y0,$x1,$y1" -o "$scratch/window.png"
open_png="(gimp-image-delete (car (gimp-file-load RUN-NONINTERACTIVE \"$scratch/window.png\" \"w.png\")))"

echo "== warming up (GIMP registers the plug-in once)" >&2
gimp_batch "(gimp-message \"warm\")" > /dev/null
: > "$scratch/plugin-times.txt"
empty=() opened=() png=()
for ((run = 0; run < runs; ++run)); do
  empty+=("$(gimp_batch "(gimp-message \"nothing\")")")
  opened+=("$(gimp_batch "$open_window")")
  png+=("$(gimp_batch "$open_png")")
done
plugin_s=$(awk '{ print $1 }' "$scratch/plugin-times.txt" | median)
plugin_kb=$(awk '{ print $2 }' "$scratch/plugin-times.txt" | sort -g | tail -1)
empty_s=$(printf '%s\n' "${empty[@]}" | median)
opened_s=$(printf '%s\n' "${opened[@]}" | median)
png_s=$(printf '%s\n' "${png[@]}" | median)

decode=()
for ((run = 0; run < runs; ++run)); do
  t0=$(now)
  /usr/bin/time -f "%M" -o "$scratch/decode-mem.txt" "$kavel" decode "$kvl" \
    --window "$x0,$y0,$x1,$y1" -o "$scratch/window.ppm"
  t1=$(now)
  decode+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { print (b - a) / 1e6 }')")
done
decode_s=$(printf '%s\n' "${decode[@]}" | median)
decode_kb=$(cat "$scratch/decode-mem.txt")

echo
echo "GIMP opening the 1024 x 1024 window $x0,$y0..$x1,$y1 at scale 0 of $kvl"
echo "($(stat -c %s "$kvl") bytes; median of $runs runs)"
echo
echo "| what | time | peak memory |"
echo "|---|---:|---:|"
printf '| file-kavel-load-region: the plug-in process (start, decode, hand over) | %.0f ms | %.1f MB |\n' \
  "$(awk -v s="$plugin_s" 'BEGIN { print s * 1000 }')" "$(awk -v k="$plugin_kb" 'BEGIN { print k / 1024 }')"
printf '| GIMP batch run with the window opened, minus an empty batch run (%.2f s) | %.0f ms | |\n' \
  "$empty_s" "$(awk -v a="$opened_s" -v b="$empty_s" 'BEGIN { print (a - b) * 1000 }')"
printf '| GIMP batch run opening the same pixels as PNG, minus the empty run | %.0f ms | |\n' \
  "$(awk -v a="$png_s" -v b="$empty_s" 'BEGIN { print (a - b) * 1000 }')"
printf '| kavel decode of the same window to PPM | %.0f ms | %.1f MB |\n' \
  "$(awk -v s="$decode_s" 'BEGIN { print s * 1000 }')" "$(awk -v k="$decode_kb" 'BEGIN { print k / 1024 }')"
