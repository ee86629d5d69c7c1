#!/usr/bin/env bash
# Huge pictures: time and peak memory of reads from 4096², 8192² and 16384² colour mosaics.
#
# usage: bench/huge/run_huge.sh [-b BUILD_DIR] [-w WORK_DIR] [-s "4096 8192 16384"] [-f] [-q]
#   BUILD_DIR  configured and built here with cmake (default: build-bench at the top)
#   WORK_DIR   mosaics and Kavel files (default: /tmp/kavel-bench/huge); Kavel files found
#              there from an earlier run are reused unless -f is given
#   -q         quick: fewer repetitions
#
# For every size it makes the colour mosaic (make_mosaic.py), encodes it with `kavel encode`
# (default quality) and measures four reads:
#   window   a 256 x 256 window at scale 0 from the middle
#   thumb    the whole image at the coarsest scale
#   scale 2  the whole image at 1:4
#   scale 0  the whole image at full size
# each through the whole `kavel decode` command (to a .raw file in a scratch folder that is
# emptied after every run; the median wall time of several runs, and the largest peak resident
# memory from /usr/bin/time -v), and through the library alone with decode_bench
# (KAVEL_BENCH_KVL=file; the time per decode, and the peak memory of a process that does only
# that read, its output buffer included). decode_bench has no thumbnail case.
#
# Needs: cmake, ninja, g++, libpng and Google Benchmark (scripts/install-deps.sh), python3,
# ImageMagick (scripts/install-deps.sh --bench) and /usr/bin/time (Debian package time).
# Disk: about 1 GB in WORK_DIR while the largest mosaic is encoded; the encoder itself takes
# about 4 GB of memory for the 16384² mosaic.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$root/build-bench"
work="/tmp/kavel-bench/huge"
sizes="4096 8192 16384"
fresh=0
quick=0
while getopts "b:w:s:fqh" option; do
  case "$option" in
    b) build="$OPTARG" ;;
    w) work="$OPTARG" ;;
    s) sizes="$OPTARG" ;;
    f) fresh=1 ;;
    q) quick=1 ;;
    *) awk 'NR > 1 && !/^#/ { exit } NR > 1' "$0"; exit 2 ;;
  esac
done

# --- what must be installed ---------------------------------------------------------------
missing=()
need_tool() { command -v "$1" > /dev/null 2>&1 || missing+=("$2"); }
need_tool cmake cmake
need_tool ninja ninja-build
need_tool g++ g++
need_tool python3 python3
need_tool convert imagemagick
[[ -x /usr/bin/time ]] || missing+=(time)
[[ -f /usr/include/benchmark/benchmark.h ]] || missing+=(libbenchmark-dev)
[[ -f /usr/include/png.h ]] || missing+=(libpng-dev)
if (( ${#missing[@]} > 0 )); then
  echo "run_huge: missing Debian packages: ${missing[*]}" >&2
  echo "  bash scripts/install-deps.sh --bench   (and: apt-get install time)" >&2
  exit 1
fi

# --- build ----------------------------------------------------------------------------------
mkdir -p "$work"
echo "== building kavel and decode_bench in $build" >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAVEL_BUILD_PLUGIN=OFF \
  -DKAVEL_BUILD_TESTS=OFF -DKAVEL_BUILD_BENCH=ON > "$work.configure.log" 2>&1 ||
  { cat "$work.configure.log" >&2; exit 1; }
ninja -C "$build" -j2 kavel decode_bench > "$work.build.log" 2>&1 ||
  { tail -30 "$work.build.log" >&2; exit 1; }
kavel="$build/tools/kavel"
decode_bench="$build/bench/decode_bench"

# Decoded pictures go to memory when there is room (a 16384² colour picture is 805 MB), so that
# the disk does not time the decoder; every output is deleted right after its run.
if [[ -d /dev/shm && -w /dev/shm ]] &&
   (( $(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > 2 * 1024 * 1024 )); then
  scratch="$(mktemp -d /dev/shm/kavel-huge.XXXXXX)"
else
  scratch="$(mktemp -d "$work/out.XXXXXX")"
fi
trap 'rm -rf "$scratch"' EXIT

now() { echo "${EPOCHREALTIME/[.,]/}"; }  # microseconds
peak_kb() { awk -F': ' '/Maximum resident set size/ { print $2 }' "$1"; }
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mb() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; }
seconds() {
  awk -v s="$1" 'BEGIN { if (s < 1) printf "%.1f ms", s * 1000; else printf "%.2f s", s }'
}

# measure RUNS OUTPUT COMMAND...: runs COMMAND (which writes OUTPUT) RUNS times; sets
# $median_s (median wall seconds) and $peak (largest peak resident memory, kB).
measure() {
  local runs=$1 output=$2 times="" t0 t1 kb
  shift 2
  peak=0
  for ((run = 0; run < runs; ++run)); do
    t0=$(now)
    /usr/bin/time -v -o "$scratch/time.txt" "$@" > /dev/null
    t1=$(now)
    rm -f "$output"
    times+=" $(awk -v a="$t0" -v b="$t1" 'BEGIN { print (b - a) / 1e6 }')"
    kb=$(peak_kb "$scratch/time.txt")
    (( kb > peak )) && peak=$kb
  done
  median_s=$(echo "$times" | median)
}

# library FILE FILTER: one decode_bench case on FILE; sets $lib_s and $lib_peak.
library() {
  KAVEL_BENCH_KVL="$1" /usr/bin/time -v -o "$scratch/time.txt" "$decode_bench" \
    --benchmark_filter="^$2\$" --benchmark_format=json > "$scratch/bench.json" \
    2> "$scratch/bench.err" || true
  # A failed decode is reported by decode_bench as an error of the case, not by its exit status.
  lib_s=$(python3 -c '
import json, sys
try:
    b = json.load(open(sys.argv[1]))["benchmarks"][0]
except (ValueError, KeyError, IndexError):
    print("failed (no result)")
    sys.exit()
if b.get("error_occurred"):
    print("failed: " + b.get("error_message", "?"))
else:
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
    print(b["real_time"] * scale)' "$scratch/bench.json")
  lib_peak=$(peak_kb "$scratch/time.txt")
}

small_runs=9; big_runs=3
(( quick )) && { small_runs=3; big_runs=1; }

rows=()
encode_rows=()
window_peaks=()
for n in $sizes; do
  kvl="$work/mosaic-$n.kvl"
  if (( fresh )) || [[ ! -f "$kvl" ]]; then
    echo "== making the $n x $n colour mosaic" >&2
    python3 "$here/make_mosaic.py" "$n" "$work/mosaic-$n.ppm"
    echo "== encoding it" >&2
    t0=$(now)
    /usr/bin/time -v -o "$scratch/time.txt" "$kavel" encode "$work/mosaic-$n.ppm" "$kvl" >&2
    t1=$(now)
    rm -f "$work/mosaic-$n.ppm"
    encode_rows+=("| $n² | $(seconds "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print (b - a) / 1e6 }')") | $(mb "$(peak_kb "$scratch/time.txt")") | $(awk -v b="$(stat -c %s "$kvl")" -v n="$n" 'BEGIN { printf "%.1f MB, %.2f bpp", b / 1048576, b * 8 / (n * n) }') |")
  fi
  read -r planes levels width height < <(python3 -c '
import json, sys
i = json.load(sys.stdin)
print(i["planes"], i["levels"], i["width"], i["height"])' < <("$kavel" info --json "$kvl"))
  x0=$(( width / 2 - 128 )); y0=$(( height / 2 - 128 ))
  echo "== reading from $kvl ($width x $height, $planes planes, $levels levels)" >&2

  out="$scratch/out.raw"
  # case: label, kavel decode options, decode_bench case, runs, output pixels
  for read_case in "window 256²|--window $x0,$y0,$((x0 + 255)),$((y0 + 255))|BM_Window256Scale0|$small_runs" \
              "thumbnail (scale $levels)|--scale $levels||$small_runs" \
              "whole, scale 2|--scale 2|BM_WholeImageScale2|$big_runs" \
              "whole, scale 0||BM_WholeImageScale0|$big_runs"; do
    IFS='|' read -r label options bench runs <<< "$read_case"
    # shellcheck disable=SC2086  # options are words
    measure "$runs" "$out" "$kavel" decode "$kvl" -o "$out" $options
    tool_s=$median_s tool_peak=$peak
    lib_s=""; lib_peak=""
    [[ -n "$bench" ]] && library "$kvl" "$bench"
    [[ "$label" == window* ]] && window_peaks+=("$n:$tool_peak:${lib_peak:-0}")
    lib_time="—" lib_memory="—"
    if [[ "$lib_s" == failed* ]]; then
      lib_time="$lib_s"
    elif [[ -n "$lib_s" ]]; then
      lib_time=$(seconds "$lib_s")
    fi
    [[ -n "$lib_peak" ]] && lib_memory=$(mb "$lib_peak")
    rows+=("| $n² | $label | $(seconds "$tool_s") | $(mb "$tool_peak") | $lib_time | $lib_memory |")
  done
done

echo
echo "Huge colour mosaics: \`kavel decode\` (whole command, to .raw; median of $small_runs runs" \
     "for windows and thumbnails, $big_runs for whole images) and the library (decode_bench)."
echo "Peak memory is the largest resident set; the library's includes its output buffer."
echo
echo "| image | read | kavel decode | peak memory | library | peak memory |"
echo "|---|---|---:|---:|---:|---:|"
printf '%s\n' "${rows[@]}"
if (( ${#encode_rows[@]} > 0 )); then
  echo
  echo "| image | kavel encode | peak memory | file |"
  echo "|---|---:|---:|---:|"
  printf '%s\n' "${encode_rows[@]}"
fi
if printf '%s\n' "${rows[@]}" | grep -q "failed"; then
  echo
  echo "A failed library read: decode_bench gives no reason. Image::decode reads the whole window in"
  echo "one call, with pool memory of several bytes per pixel and plane, and the pool refuses to"
  echo "hold more than its limit (4 GiB by default); \`kavel decode\` reads in strips."
fi
echo
echo "Peak memory of a 256 x 256 window read at scale 0, against the smallest image:"
IFS=':' read -r n0 tool0 lib0 <<< "${window_peaks[0]}"
for entry in "${window_peaks[@]}"; do
  IFS=':' read -r n tool lib <<< "$entry"
  printf -- '- %s² (%s pixels): kavel decode %s (x%.2f), library %s (x%.2f)\n' "$n" \
    "$(awk -v n="$n" -v m="$n0" 'BEGIN { print n * n / (m * m) }')x" \
    "$(mb "$tool")" "$(awk -v a="$tool" -v b="$tool0" 'BEGIN { print a / b }')" \
    "$(mb "$lib")" "$(awk -v a="$lib" -v b="$lib0" 'BEGIN { print (b > 0 ? a / b : 0) }')"
done
