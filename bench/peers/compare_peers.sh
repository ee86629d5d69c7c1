#!/usr/bin/env bash
# Speed beside the peers, in one run: Kavel, JPEG (libjpeg-turbo's djpeg / cjpeg) and JPEG 2000
# (OpenJPEG's opj_decompress / opj_compress) on the same photograph mosaics, grey and colour,
# coded at the same size.
#
# usage: bench/peers/compare_peers.sh [-b BUILD_DIR] [-w WORK_DIR] [-n SIZE] [-p BPP]
#                                     [-e ENCODE_SIZE] [-r RUNS] [-f]
#   BUILD_DIR    configured and built here with cmake (default: build-bench at the top)
#   WORK_DIR     mosaics and coded files (default: /tmp/kavel-bench/peers); coded files from an
#                earlier run are reused unless -f is given
#   SIZE         side of the mosaics that are read (default 8192)
#   BPP          bits per pixel of every coded file (default 1)
#   ENCODE_SIZE  side of the colour mosaic that is encoded for the encoding speed (default 4096)
#   RUNS         timed runs of each window read after one warm-up (default 10); whole images
#                get 3 runs after a warm-up (OpenJPEG: 1 run, seconds a run), PNG output and
#                encoding 1 run each
#   KAVEL_PREVIOUS=/path/to/kavel   (environment) an earlier kavel binary, timed in the same
#                run on the same files for before/after figures (its columns are marked "prev")
#
# Rows:
#   grey / colour, whole, to .raw   kavel decode -o x.raw (1 thread and default threads),
#                                   djpeg -outfile x.pnm, opj_decompress -threads 1 -o x.raw
#   grey / colour, whole at 1:4     kavel --scale 2, djpeg -scale 1/4, opj -r 2
#   256 x 256 window, grey / colour kavel --window, djpeg -crop, opj -d on the 256 x 256-tiled
#                                   file (OpenJPEG's fastest way to a window)
#   colour to PNG                   kavel decode -o x.png; kavel decode -o x.ppm; djpeg piped
#                                   into pnmtopng (netpbm), for reference
#   encoding, colour                kavel encode --bpp BPP; cjpeg -optimize at the quality that
#                                   gives the nearest size; opj_compress -I -n 6 -r R, in
#                                   megapixels per second of wall clock and per CPU second
# Every output goes to a scratch folder in memory. Times are hyperfine medians; "x" figures are
# the time over kavel's default-threads time (above 1: kavel is faster).
#
# The first run makes the mosaics and codes them (several minutes: kavel and OpenJPEG encode
# 8192 x 8192 pictures); later runs reuse the files and take a few minutes.
#
# Needs the project's build tools and the peers: bash scripts/install-deps.sh --bench
# (libjpeg-turbo-progs, libopenjp2-tools, hyperfine, imagemagick, netpbm, time).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$root/build-bench"
work="/tmp/kavel-bench/peers"
size=8192
rate=1
encode_size=4096
runs=10
fresh=0
while getopts "b:w:n:p:e:r:fh" option; do
  case "$option" in
    b) build="$OPTARG" ;;
    w) work="$OPTARG" ;;
    n) size="$OPTARG" ;;
    p) rate="$OPTARG" ;;
    e) encode_size="$OPTARG" ;;
    r) runs="$OPTARG" ;;
    f) fresh=1 ;;
    *) awk 'NR > 1 && !/^#/ { exit } NR > 1' "$0"; exit 2 ;;
  esac
done
for n in "$size" "$encode_size"; do
  [[ "$n" =~ ^[0-9]+$ ]] && (( n >= 1024 )) || { echo "compare_peers: sizes must be 1024 or more" >&2; exit 2; }
done
previous="${KAVEL_PREVIOUS:-}"
if [[ -n "$previous" && ! -x "$previous" ]]; then
  echo "compare_peers: KAVEL_PREVIOUS=$previous is not an executable" >&2
  exit 2
fi

# --- what must be installed ---------------------------------------------------------------
missing=()
need_tool() { command -v "$1" > /dev/null 2>&1 || missing+=("$2"); }
need_tool cmake cmake
need_tool ninja ninja-build
need_tool python3 python3
need_tool convert imagemagick
need_tool cjpeg libjpeg-turbo-progs
need_tool djpeg libjpeg-turbo-progs
need_tool opj_compress libopenjp2-tools
need_tool opj_decompress libopenjp2-tools
need_tool hyperfine hyperfine
need_tool pnmtopng netpbm
[[ -x /usr/bin/time ]] || missing+=(time)
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

bpp_of() { awk -v b="$(stat -c %s "$1")" -v p="$2" 'BEGIN { printf "%.3f", b * 8 / p }'; }
seconds() {
  awk -v s="$1" 'BEGIN { if (s < 1) printf "%.1f ms", s * 1000; else printf "%.2f s", s }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# --- pictures and coded files ---------------------------------------------------------------
# jpeg_search IN OUT TARGET PIXELS: cjpeg -optimize with the quality whose file is nearest
# TARGET bits per pixel; the quality goes to OUT.quality.
jpeg_search() {
  local in=$1 out=$2 target=$3 pixels=$4 low=1 high=100 mid best="" best_gap="" q gap
  declare -A bits=()
  while (( low < high )); do
    mid=$(( (low + high) / 2 ))
    cjpeg -quality "$mid" -optimize -outfile "$out.tmp" "$in"
    bits[$mid]=$(bpp_of "$out.tmp" "$pixels")
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
      bits[$q]=$(bpp_of "$out.tmp" "$pixels")
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

# mosaic SIDE KIND: the path of the SIDE x SIDE mosaic (made once; grey is the colour one's Y).
mosaic() {
  local side=$1 kind=$2 colour="$work/mosaic-$1.ppm"
  if [[ ! -f "$colour" ]]; then
    echo "== making the $side x $side mosaic" >&2
    python3 "$root/bench/huge/make_mosaic.py" "$side" "$colour"
  fi
  if [[ $kind == grey ]]; then
    [[ -f "$work/mosaic-$side.pgm" ]] || python3 "$root/bench/huge/make_mosaic.py" "$side" "$work/mosaic-$side.pgm"
    echo "$work/mosaic-$side.pgm"
  else
    echo "$colour"
  fi
}

pixels=$(( size * size ))
size_rows=()
for kind in grey colour; do
  planes=3
  [[ $kind == grey ]] && planes=1
  base="$work/$kind-$size-$rate"
  ratio_opj=$(awk -v p="$planes" -v b="$rate" 'BEGIN { print 8 * p / b }')
  if (( fresh )) || [[ ! -f "$base.kvl" || ! -f "$base.j2k" || ! -f "$base-t256.j2k" ||
                      ! -f "$base.jpg" ]]; then
    picture=$(mosaic "$size" "$kind")
    echo "== coding the $kind mosaic at $rate bits per pixel" >&2
    "$kavel" encode "$picture" "$base.kvl" --bpp "$rate" >&2
    opj_compress -i "$picture" -o "$base.j2k" -I -n 6 -r "$ratio_opj" -threads ALL_CPUS > /dev/null
    opj_compress -i "$picture" -o "$base-t256.j2k" -I -n 6 -r "$ratio_opj" -t 256,256 \
      -threads ALL_CPUS > /dev/null
    jpeg_search "$picture" "$base.jpg" "$rate" "$pixels"
  fi
  size_rows+=("| $kind $size² | $rate | $(bpp_of "$base.kvl" $pixels) | $(bpp_of "$base.jpg" $pixels) (q $(cat "$base.jpg.quality")) | $(bpp_of "$base.j2k" $pixels) | $(bpp_of "$base-t256.j2k" $pixels) |")
done

# --- timing ---------------------------------------------------------------------------------
# run_hyperfine LINE HYPERFINE-OPTIONS...: sets $t to the median seconds of LINE (or "failed").
run_hyperfine() {
  local line=$1
  shift
  if hyperfine --style none "$@" --export-json "$scratch/h.json" "$line" \
       > "$scratch/hyperfine.log" 2>&1; then
    t=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["results"][0]["median"])' \
      "$scratch/h.json")
  else
    echo "compare_peers: failed: $line" >&2
    tail -5 "$scratch/hyperfine.log" >&2
    t=failed
  fi
  rm -f "$scratch"/out.*
}
# time_command RUNS WARMUP COMMAND...: a command without a shell.
time_command() {
  local count=$1 warm=$2 line=""
  shift 2
  for word in "$@"; do line+="$(printf '%q' "$word") "; done
  run_hyperfine "$line" -N --warmup "$warm" --runs "$count"
}
# time_shell RUNS COMMAND-LINE: a shell pipeline.
time_shell() { run_hyperfine "$2" --runs "$1"; }
cell() {  # cell TIME REFERENCE: "T (xR)"
  if [[ $1 == failed ]]; then echo failed
  elif [[ -z "${2:-}" || $2 == failed ]]; then seconds "$1"
  else echo "$(seconds "$1") (×$(ratio "$1" "$2"))"
  fi
}

kavels=(current)
[[ -n "$previous" ]] && kavels+=(prev)
binary_of() { [[ $1 == current ]] && echo "$kavel" || echo "$previous"; }

header="| read |"
rule="|---|"
for k in "${kavels[@]}"; do
  name=kavel
  [[ $k == prev ]] && name="kavel prev"
  header+=" $name, 1 thread | $name, default threads |"
  rule+="---:|---:|"
done
header+=" djpeg | OpenJPEG, 1 thread |"
rule+="---:|---:|"
rows=()
half=$(( size / 2 - 128 ))
for read in whole quarter window; do
  for kind in grey colour; do
    ext=ppm
    [[ $kind == grey ]] && ext=pgm
    base="$work/$kind-$size-$rate"
    case $read in
      whole) label="$kind, whole, to .raw"; k=(-o "$scratch/out.raw"); o=(-i "$base.j2k" -o "$scratch/out.raw")
        j=(-outfile "$scratch/out.$ext"); count=3 warm=1 opj_count=1 ;;
      quarter) label="$kind, whole at 1:4"; k=(-o "$scratch/out.raw" --scale 2)
        o=(-i "$base.j2k" -o "$scratch/out.raw" -r 2); j=(-scale 1/4 -outfile "$scratch/out.$ext")
        count=3 warm=1 opj_count=3 ;;
      window) label="$kind, 256 x 256 window"
        k=(-o "$scratch/out.raw" --window "$half,$half,$((half + 255)),$((half + 255))")
        o=(-i "$base-t256.j2k" -o "$scratch/out.raw" -d "$half,$half,$((half + 256)),$((half + 256))")
        j=(-crop "256x256+$half+$half" -outfile "$scratch/out.$ext")
        count=$runs warm=1 opj_count=$runs ;;
    esac
    echo "== $label" >&2
    row="| $label |"
    reference=""
    for which in "${kavels[@]}"; do
      binary=$(binary_of "$which")
      time_command "$count" "$warm" "$binary" decode "$base.kvl" --threads 1 "${k[@]}"
      one=$t
      time_command "$count" "$warm" "$binary" decode "$base.kvl" "${k[@]}"
      [[ $which == current ]] && reference=$t
      row+=" $(cell "$one" "$reference") | $(cell "$t" "$reference") |"
    done
    time_command "$count" "$warm" djpeg "${j[@]}" "$base.jpg"
    row+=" $(cell "$t" "$reference") |"
    time_command "$opj_count" 0 opj_decompress -quiet -threads 1 "${o[@]}"
    row+=" $(cell "$t" "$reference") |"
    rows+=("$row")
  done
done

# --- PNG output -----------------------------------------------------------------------------
echo "== colour to PNG" >&2
base="$work/colour-$size-$rate"
png_header="| colour $size² | kavel to .png | kavel to .ppm |"
png_rule="|---|---:|---:|"
png_row="| default threads |"
for which in "${kavels[@]}"; do
  binary=$(binary_of "$which")
  [[ $which == prev ]] && png_header+=" kavel prev to .png | kavel prev to .ppm |" && png_rule+="---:|---:|"
  time_command 1 0 "$binary" decode "$base.kvl" -o "$scratch/out.ppm"
  ppm=$t
  time_command 1 0 "$binary" decode "$base.kvl" -o "$scratch/out.png"
  png_row+=" $(cell "$t" "$ppm") | $(seconds "$ppm") |"
done
time_shell 1 "djpeg $(printf '%q' "$base.jpg") | pnmtopng > $(printf '%q' "$scratch/out.png")"
png_header+=" djpeg \| pnmtopng |"
png_rule+="---:|"
png_row+=" $(seconds "$t") |"

# --- encoding -------------------------------------------------------------------------------
echo "== encoding the $encode_size x $encode_size colour mosaic" >&2
encode_in="$work/mosaic-$encode_size.ppm"
[[ -f "$encode_in" ]] || encode_in=$(mosaic "$encode_size" colour)
encode_pixels=$(( encode_size * encode_size ))
encode_mp=$(awk -v p="$encode_pixels" 'BEGIN { print p / 1e6 }')
[[ -f "$work/encode-$encode_size-$rate.jpg" ]] || jpeg_search "$encode_in" "$work/encode-$encode_size-$rate.jpg" "$rate" "$encode_pixels"
quality=$(cat "$work/encode-$encode_size-$rate.jpg.quality")
opj_ratio=$(awk -v b="$rate" 'BEGIN { print 24 / b }')
encode_rows=()
# encode_row NAME OUTPUT COMMAND...: one timed run, with its CPU seconds and the file's size.
encode_row() {
  local name=$1 output=$2
  shift 2
  /usr/bin/time -f "%e %U %S" -o "$scratch/time" "$@" > /dev/null 2> "$scratch/encode.log" ||
    { cat "$scratch/encode.log" >&2; encode_rows+=("| $name | failed | | | | |"); return; }
  read -r wall user sys < "$scratch/time"
  encode_rows+=("| $name | $(awk -v w="$wall" -v m="$encode_mp" 'BEGIN { printf "%.2f", m / w }') | $(awk -v u="$user" -v s="$sys" -v m="$encode_mp" 'BEGIN { printf "%.2f", m / (u + s) }') | $(seconds "$wall") | $(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.1f s", u + s }') | $(bpp_of "$output" "$encode_pixels") |")
  rm -f "$output"
}
for which in "${kavels[@]}"; do
  name="kavel encode --bpp $rate"
  [[ $which == prev ]] && name="kavel prev encode --bpp $rate"
  encode_row "$name" "$scratch/out.kvl" "$(binary_of "$which")" encode "$encode_in" "$scratch/out.kvl" --bpp "$rate"
done
encode_row "cjpeg -quality $quality -optimize" "$scratch/out.jpg" cjpeg -quality "$quality" -optimize -outfile "$scratch/out.jpg" "$encode_in"
encode_row "opj_compress -r $opj_ratio, 1 thread" "$scratch/out.j2k" opj_compress -i "$encode_in" -o "$scratch/out.j2k" -I -n 6 -r "$opj_ratio"
encode_row "opj_compress -r $opj_ratio, all cores" "$scratch/out.j2k" opj_compress -i "$encode_in" -o "$scratch/out.j2k" -I -n 6 -r "$opj_ratio" -threads ALL_CPUS

# --- report ---------------------------------------------------------------------------------
echo
echo "Files (bits per pixel):"
echo
echo "| picture | target | kavel | JPEG | OpenJPEG | OpenJPEG, 256² tiles |"
echo "|---|---:|---:|---:|---:|---:|"
printf '%s\n' "${size_rows[@]}"
echo
echo "Reading the $size x $size mosaics (median of $runs runs for windows, 3 for whole images;" \
     "OpenJPEG whole: 1 run; ×: time over kavel's with default threads):"
echo
echo "$header"
echo "$rule"
printf '%s\n' "${rows[@]}"
echo
echo "PNG output of the colour mosaic (1 run each; × for kavel: time over its .ppm time):"
echo
echo "$png_header"
echo "$png_rule"
echo "$png_row"
echo
echo "Encoding the $encode_size x $encode_size colour mosaic at about $rate bit per pixel (1 run each):"
echo
echo "| encoder | MP/s | MP per CPU second | wall | CPU | bits per pixel |"
echo "|---|---:|---:|---:|---:|---:|"
printf '%s\n' "${encode_rows[@]}"
