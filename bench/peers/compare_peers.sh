#!/usr/bin/env bash
# Decoding speed beside the peers: Kavel, JPEG 2000 (OpenJPEG) and JPEG (libjpeg-turbo) reading
# the same 8192 x 8192 photograph mosaic, grey and colour, coded at about the same size.
#
# usage: bench/peers/compare_peers.sh [-b BUILD_DIR] [-w WORK_DIR] [-n SIZE] [-p "1 2"]
#                                     [-k "grey colour"] [-r RUNS] [-f] [-q]
#   BUILD_DIR  configured and built here with cmake (default: build-bench at the top)
#   WORK_DIR   mosaics and coded files (default: /tmp/kavel-bench/peers); coded files from an
#              earlier run are reused unless -f is given
#   SIZE       side of the mosaic (default 8192)
#   -p         target sizes in bits per pixel (default "1 2")
#   -k         kinds of picture (default "grey colour")
#   RUNS       timed runs of each windowed read, after one warm-up run (default 5); the whole
#              image at 1:4 gets min(RUNS, 3); the whole image at full size gets 5 runs after a
#              warm-up for kavel and djpeg and one run without warm-up for OpenJPEG (seconds a
#              run), so that the script keeps within about 15 minutes on two cores
#   -q         quick: 3 runs, 1 for whole images, no warm-up
#
# Files: `kavel encode --bpp B`; `opj_compress -I -n 6 -r R` (irreversible 9/7 wavelet,
# 6 resolutions, R = 8 x planes / B), untiled and with 256 x 256 tiles (-t 256,256); cjpeg
# -optimize with the quality searched for the size nearest the target. Each file must come
# within 10% of the target (a miss is flagged in the size table).
#
# Reads (each peer's own way of asking for less than the whole image):
#   whole       the whole image at full size
#   whole 1:4   the whole image at 1:4        kavel --scale 2, opj -r 2, djpeg -scale 1/4
#   256² window 256 x 256 at full size from the middle
#                                            kavel --window, opj -d, djpeg -crop
#   1024² @1:4  1024 x 1024 at 1:4 from the middle
# opj_decompress runs with -threads 1 and with -threads ALL_CPUS: its default is one thread
# (unless OPJ_NUM_THREADS is set), so the default adds nothing to -threads 1. kavel decode
# decodes large outputs in strips on one thread per processor (at most four); the "kavel 1
# thread" column runs it with --threads 1. djpeg uses one thread. Every command writes a binary
# PGM/PPM into a scratch folder in memory.
#
# Times are medians from hyperfine (-N, --warmup 1, --export-json); the ratio is the peer's
# time over Kavel's (above 1: Kavel is faster). Peak memory is the largest resident set seen by
# /usr/bin/time over the runs.
#
# The first run makes and codes the pictures (12 files; most of the time goes to
# `kavel encode --bpp`, which codes each picture two to four times); later runs reuse the files
# and only decode.
#
# Needs the project's build tools (bash scripts/run-sample.sh installs them) and the peers:
# bash scripts/install-deps.sh --bench (libjpeg-turbo-progs, libopenjp2-tools, hyperfine,
# imagemagick), and /usr/bin/time (Debian package time).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$root/build-bench"
work="/tmp/kavel-bench/peers"
size=8192
rates="1 2"
kinds="grey colour"
runs=5
quarter_runs=3
full_runs=1
fast_full_runs=5
warmup=1
fresh=0
while getopts "b:w:n:p:k:r:fqh" option; do
  case "$option" in
    b) build="$OPTARG" ;;
    w) work="$OPTARG" ;;
    n) size="$OPTARG" ;;
    p) rates="$OPTARG" ;;
    k) kinds="$OPTARG" ;;
    r) runs="$OPTARG"; quarter_runs=$(( OPTARG < 3 ? OPTARG : 3 )) ;;
    f) fresh=1 ;;
    q) runs=3; quarter_runs=1; fast_full_runs=1; warmup=0 ;;
    *) awk 'NR > 1 && !/^#/ { exit } NR > 1' "$0"; exit 2 ;;
  esac
done
[[ "$size" =~ ^[0-9]+$ ]] && (( size >= 2048 )) || { echo "compare_peers: SIZE must be 2048 or more" >&2; exit 2; }

# --- what must be installed ---------------------------------------------------------------
missing=()
need_tool() { command -v "$1" > /dev/null 2>&1 || missing+=("$2"); }
need_tool cmake cmake
need_tool ninja ninja-build
need_tool g++ g++
need_tool python3 python3
need_tool convert imagemagick
need_tool cjpeg libjpeg-turbo-progs
need_tool djpeg libjpeg-turbo-progs
need_tool opj_compress libopenjp2-tools
need_tool opj_decompress libopenjp2-tools
need_tool hyperfine hyperfine
[[ -x /usr/bin/time ]] || missing+=(time)
[[ -f /usr/include/png.h ]] || missing+=(libpng-dev)
if (( ${#missing[@]} > 0 )); then
  mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
  echo "compare_peers: missing Debian packages: ${missing[*]}" >&2
  echo "  bash scripts/install-deps.sh --bench   (and: apt-get install time)" >&2
  exit 1
fi

# --- build ----------------------------------------------------------------------------------
mkdir -p "$work"
echo "== building kavel in $build" >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAVEL_BUILD_PLUGIN=OFF \
  -DKAVEL_BUILD_TESTS=OFF > "$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }
ninja -C "$build" -j2 kavel > "$work/build.log" 2>&1 || { tail -30 "$work/build.log" >&2; exit 1; }
kavel="$build/tools/kavel"

if [[ -d /dev/shm && -w /dev/shm ]] &&
   (( $(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > 1024 * 1024 )); then
  scratch="$(mktemp -d /dev/shm/kavel-peers.XXXXXX)"
else
  scratch="$(mktemp -d "$work/out.XXXXXX")"
fi
trap 'rm -rf "$scratch"' EXIT

pixels=$(( size * size ))
bpp_of() { awk -v b="$(stat -c %s "$1")" -v p="$pixels" 'BEGIN { printf "%.3f", b * 8 / p }'; }
within() { awk -v a="$1" -v t="$2" 'BEGIN { exit !(a > 0.9 * t && a < 1.1 * t) }'; }
mb() { awk -v k="$1" 'BEGIN { printf "%.0f MB", k / 1024 }'; }
seconds() {
  awk -v s="$1" 'BEGIN { if (s < 1) printf "%.0f ms", s * 1000; else printf "%.2f s", s }'
}

# --- pictures and coded files ---------------------------------------------------------------
# jpeg_search IN OUT TARGET: cjpeg with the quality whose file is nearest TARGET bits per pixel.
jpeg_search() {
  local in=$1 out=$2 target=$3 low=1 high=100 mid best="" best_gap="" q gap
  declare -A bits=()
  while (( low < high )); do
    mid=$(( (low + high) / 2 ))
    cjpeg -quality "$mid" -optimize -outfile "$out.tmp" "$in"
    bits[$mid]=$(bpp_of "$out.tmp")
    if awk -v a="${bits[$mid]}" -v t="$target" 'BEGIN { exit !(a < t) }'; then
      low=$(( mid + 1 ))
    else
      high=$mid
    fi
  done
  for q in $(( low - 1 )) "$low"; do
    (( q >= 1 )) || continue
    if [[ -z "${bits[$q]:-}" ]]; then
      cjpeg -quality "$q" -optimize -outfile "$out.tmp" "$in"
      bits[$q]=$(bpp_of "$out.tmp")
    fi
    gap=$(awk -v a="${bits[$q]}" -v t="$target" 'BEGIN { d = a - t; print d < 0 ? -d : d }')
    if [[ -z "$best" ]] || awk -v g="$gap" -v b="$best_gap" 'BEGIN { exit !(g < b) }'; then
      best=$q best_gap=$gap
    fi
  done
  cjpeg -quality "$best" -optimize -outfile "$out" "$in"
  rm -f "$out.tmp"
  echo "$best" > "$out.quality"
}

for kind in $kinds; do
  planes=3 ext=ppm
  [[ "$kind" == grey ]] && planes=1 ext=pgm
  picture="$work/mosaic-$size.$ext"
  for rate in $rates; do
    base="$work/$kind-$size-$rate"
    ratio=$(awk -v p="$planes" -v b="$rate" 'BEGIN { print 8 * p / b }')
    if (( fresh )) || [[ ! -f "$base.kvl" || ! -f "$base.j2k" || ! -f "$base-t256.j2k" ||
                        ! -f "$base.jpg" ]]; then
      if [[ ! -f "$picture" ]]; then
        echo "== making the $size x $size $kind mosaic" >&2
        python3 "$root/bench/huge/make_mosaic.py" "$size" "$picture"
      fi
      echo "== coding the $kind mosaic at $rate bits per pixel" >&2
      "$kavel" encode "$picture" "$base.kvl" --bpp "$rate" >&2
      opj_compress -i "$picture" -o "$base.j2k" -I -n 6 -r "$ratio" -threads ALL_CPUS > /dev/null
      opj_compress -i "$picture" -o "$base-t256.j2k" -I -n 6 -r "$ratio" -t 256,256 \
        -threads ALL_CPUS > /dev/null
      jpeg_search "$picture" "$base.jpg" "$rate"
    fi
  done
  rm -f "$picture"
done

# --- timing ---------------------------------------------------------------------------------
# time_command NAME RUNS WARMUP OUTPUT COMMAND...: sets $t (median seconds, or "failed") and
# $peak (largest resident set, kB) of COMMAND, which writes OUTPUT.
time_command() {
  local name=$1 count=$2 warm=$3 output=$4 line=""
  shift 4
  rm -f "$scratch/rss"
  for word in /usr/bin/time -f %M -a -o "$scratch/rss" "$@"; do line+="$(printf '%q' "$word") "; done
  if hyperfine -N --style none --warmup "$warm" --runs "$count" --export-json "$scratch/h.json" \
       --command-name "$name" "$line" > "$scratch/hyperfine.log" 2>&1; then
    t=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["results"][0]["median"])' \
      "$scratch/h.json")
    peak=$(sort -n "$scratch/rss" | tail -1)
  else
    echo "compare_peers: $name failed:" >&2
    tail -5 "$scratch/hyperfine.log" >&2
    t=failed peak=0
  fi
  rm -f "$output"
}

peers=(kavel "kavel 1 thread" "opj 1 thread" "opj all cores" "opj t256, 1 thread" "opj t256, all cores" djpeg)
rows=()
size_rows=()
for kind in $kinds; do
  ext=ppm
  [[ "$kind" == grey ]] && ext=pgm
  for rate in $rates; do
    base="$work/$kind-$size-$rate"
    flag() { within "$1" "$rate" && echo "$1" || echo "**$1** (off target)"; }
    size_rows+=("| $kind | $rate | $(flag "$(bpp_of "$base.kvl")") | $(flag "$(bpp_of "$base.j2k")") | $(flag "$(bpp_of "$base-t256.j2k")") | $(flag "$(bpp_of "$base.jpg")") (q $(cat "$base.jpg.quality")) |")
    half=$(( size / 2 - 128 ))
    quarter=$(( (size + 3) / 4 ))
    side=$(( quarter < 1024 ? quarter : 1024 ))  # the view at 1:4: 1024² unless the image is smaller
    view=$(( (quarter - side) / 2 ))
    for read in whole quarter window view; do
      case $read in
        whole) label="whole"; k=(); o=(); j=() ;;
        quarter) label="whole 1:4"; k=(--scale 2); o=(-r 2); j=(-scale 1/4) ;;
        window) label="256² window"
          k=(--window "$half,$half,$((half + 255)),$((half + 255))")
          o=(-d "$half,$half,$((half + 256)),$((half + 256))")
          j=(-crop "256x256+$half+$half") ;;
        view) label="$side² @1:4"
          k=(--scale 2 --window "$view,$view,$((view + side - 1)),$((view + side - 1))")
          o=(-r 2 -d "$((4 * view)),$((4 * view)),$((4 * (view + side))),$((4 * (view + side)))")
          j=(-scale 1/4 -crop "${side}x$side+$view+$view") ;;
      esac
      count=$runs warm=$warmup
      [[ $read == quarter ]] && count=$quarter_runs
      [[ $read == whole ]] && count=$full_runs warm=0
      echo "== $kind, $rate bpp, $label" >&2
      out="$scratch/out.$ext"
      cells=()
      ours=""
      for peer in "${peers[@]}"; do
        case $peer in
          kavel) command=("$kavel" decode "$base.kvl" -o "$out" "${k[@]}") ;;
          "kavel 1 thread") command=("$kavel" decode "$base.kvl" -o "$out" --threads 1 "${k[@]}") ;;
          "opj 1 thread") command=(opj_decompress -quiet -threads 1 -i "$base.j2k" -o "$out" "${o[@]}") ;;
          "opj all cores") command=(opj_decompress -quiet -threads ALL_CPUS -i "$base.j2k" -o "$out" "${o[@]}") ;;
          "opj t256, 1 thread") command=(opj_decompress -quiet -threads 1 -i "$base-t256.j2k" -o "$out" "${o[@]}") ;;
          "opj t256, all cores") command=(opj_decompress -quiet -threads ALL_CPUS -i "$base-t256.j2k" -o "$out" "${o[@]}") ;;
          djpeg) command=(djpeg "${j[@]}" -outfile "$out" "$base.jpg") ;;
        esac
        # The whole image: OpenJPEG once (seconds a run), the fast decoders a few times, after
        # a warm-up, so that one unlucky run on a shared machine does not make the ratio.
        peer_count=$count peer_warm=$warm
        if [[ $read == whole && $peer != opj* ]]; then
          peer_count=$fast_full_runs peer_warm=$warmup
        fi
        time_command "$peer" "$peer_count" "$peer_warm" "$out" "${command[@]}"
        if [[ $t == failed ]]; then
          cells+=("failed")
          continue
        fi
        [[ $peer == kavel ]] && ours=$t
        if [[ $peer == kavel || -z "$ours" ]]; then
          cells+=("$(seconds "$t"), $(mb "$peak")")
        else
          cells+=("$(seconds "$t") ×$(awk -v a="$t" -v b="$ours" 'BEGIN { printf "%.2f", a / b }'), $(mb "$peak")")
        fi
      done
      row="| $kind | $rate | $label |"
      for cell in "${cells[@]}"; do row+=" $cell |"; done
      rows+=("$row")
    done
  done
done

echo
echo "Files ($size x $size mosaic, bits per pixel; target within 10%):"
echo
echo "| picture | target | kavel | opj untiled | opj t256 | JPEG |"
echo "|---|---:|---:|---:|---:|---:|"
printf '%s\n' "${size_rows[@]}"
echo
echo "Decoding: median time (×: peer's time over Kavel's), peak memory. Runs: $runs after" \
     "$warmup warm-up for windows, $quarter_runs for the whole image at 1:4; for the whole image" \
     "$fast_full_runs after $warmup warm-up for kavel and djpeg, $full_runs without warm-up for OpenJPEG."
echo
header="| picture | bpp | read |"
rule="|---|---:|---|"
for peer in "${peers[@]}"; do header+=" $peer |"; rule+="---:|"; done
echo "$header"
echo "$rule"
printf '%s\n' "${rows[@]}"
