#!/usr/bin/env bash
# Thumbnails of a huge Kavel file through the desktop loaders: time and peak memory of
#   gdk-pixbuf-thumbnailer -s 256 FILE out.png   (the loader registered in a temporary cache)
#   QImageReader with a 256 scaled size          (bench/desktop/qt_thumbnail, the Qt plug-in)
# each the whole process, median wall time of several runs and the largest peak resident memory
# (/usr/bin/time -v), beside the same two on a 451 x 300 photograph (what starting the process
# costs).
#
# usage: bench/desktop/measure_thumbnails.sh [-b BUILD_DIR] [-f FILE.kvl] [-n SIZE] [-r RUNS]
#                                            [-p FILE.png]
#   BUILD_DIR  configured and built here (default: build-bench at the top)
#   FILE.kvl   the file to thumbnail (default: WORK/mosaic-SIZE.kvl, made as bench/huge does:
#              make_mosaic.py then `kavel encode`; the 16384 one takes minutes and 4 GB)
#   SIZE       side of the mosaic made when FILE.kvl is not given (default 16384)
#   RUNS       runs per case (default 7)
#   FILE.png   also thumbnail this PNG with gdk-pixbuf-thumbnailer, for comparison
# Needs: scripts/install-deps.sh --bench (GNU time, ImageMagick for the mosaic).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$root/build-bench"
work="/tmp/kavel-bench/huge"
kvl=""
png=""
size=16384
runs=7
while getopts "b:f:n:r:p:h" option; do
  case "$option" in
    b) build="$OPTARG" ;;
    f) kvl="$OPTARG" ;;
    n) size="$OPTARG" ;;
    r) runs="$OPTARG" ;;
    p) png="$OPTARG" ;;
    *) awk 'NR > 1 && !/^#/ { exit } NR > 1' "$0"; exit 2 ;;
  esac
done
[[ -x /usr/bin/time ]] || { echo "measure_thumbnails: needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
thumbnailer=$(command -v gdk-pixbuf-thumbnailer) ||
  { echo "measure_thumbnails: needs gdk-pixbuf-thumbnailer (libgdk-pixbuf2.0-bin)" >&2; exit 1; }

mkdir -p "$work"
echo "== building in $build" >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAVEL_BUILD_PLUGIN=OFF \
  -DKAVEL_BUILD_TESTS=OFF -DKAVEL_BUILD_BENCH=ON > "$work/desktop.configure.log" 2>&1 ||
  { cat "$work/desktop.configure.log" >&2; exit 1; }
ninja -C "$build" -j2 kavel pixbufloader-kavel qkavel qt_thumbnail > "$work/desktop.build.log" 2>&1 ||
  { tail -30 "$work/desktop.build.log" >&2; exit 1; }
kavel="$build/tools/kavel"

if [[ -z "$kvl" ]]; then
  kvl="$work/mosaic-$size.kvl"
  if [[ ! -f "$kvl" ]]; then
    echo "== making and encoding the $size x $size colour mosaic" >&2
    python3 "$root/bench/huge/make_mosaic.py" "$size" "$work/mosaic-$size.ppm"
    "$kavel" encode "$work/mosaic-$size.ppm" "$kvl" >&2
    rm -f "$work/mosaic-$size.ppm"
  fi
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
source "$root/integrations/gdk-pixbuf/use_uninstalled.sh" \
  "$build/gdk-pixbuf-loaders/libpixbufloader-kavel.so" "$scratch"
export QT_PLUGIN_PATH="$build/qt-plugins" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$scratch/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"

now() { echo "${EPOCHREALTIME/[.,]/}"; }
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# measure LABEL COMMAND...: a table row with the median wall time and the largest peak memory.
measure() {
  local label=$1 times="" peak=0 t0 t1 kb
  shift
  for ((run = 0; run < runs; ++run)); do
    t0=$(now)
    /usr/bin/time -v -o "$scratch/time.txt" "$@" > /dev/null
    t1=$(now)
    times+=" $(( t1 - t0 ))"
    kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$scratch/time.txt")
    (( kb > peak )) && peak=$kb
  done
  printf '| %s | %.1f ms | %.1f MB |\n' "$label" "$(echo "$times" | median | awk '{ print $1 / 1000 }')" \
    "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')"
}

read -r width height < <("$kavel" info --json "$kvl" | python3 -c '
import json, sys
i = json.load(sys.stdin)
print(i["width"], i["height"])')
echo
echo "Thumbnails of $(basename "$kvl") ($width x $height, $(( $(stat -c %s "$kvl") / 1048576 )) MB):" \
     "median of $runs runs, whole process, largest peak resident memory."
echo
echo "| read | time | peak memory |"
echo "|---|---:|---:|"
measure "gdk-pixbuf-thumbnailer -s 256" "$thumbnailer" -s 256 "$kvl" "$scratch/thumb.png"
measure "QImageReader, scaled size 256" "$build/bench/desktop/qt_thumbnail" "$kvl" 256
# The floor: the same processes on a small photograph (start-up, loaders, PNG writing).
"$kavel" encode "$root/data/chelsea.png" "$scratch/small.kvl" > /dev/null
measure "the same thumbnailer on a 451 x 300 file" "$thumbnailer" -s 256 "$scratch/small.kvl" "$scratch/thumb.png"
measure "the same QImageReader on a 451 x 300 file" "$build/bench/desktop/qt_thumbnail" "$scratch/small.kvl" 256
if [[ -n "$png" ]]; then
  measure "gdk-pixbuf-thumbnailer -s 256, the PNG" "$thumbnailer" -s 256 "$png" "$scratch/thumb.png"
fi
