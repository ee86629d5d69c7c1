#!/usr/bin/env bash
# Quality beside the peers: encodes photographs with `kavel encode --bpp`, JPEG (cjpeg) and
# JPEG 2000 (opj_compress) at the same sizes and prints bits per pixel and PSNR (dB, over all
# samples of the decoded 8-bit picture) for each.
#
# usage: bench/quality/compare_quality.sh [-b BUILD_DIR] [-r "0.5 1 2"] [PICTURE.png ...]
#   BUILD_DIR  holds tools/kavel (default: build, then build-enc)
#   PICTUREs   default: the photographs in data/
#
# Needs: python3; cjpeg and djpeg (Debian package libjpeg-turbo-progs); opj_compress and
# opj_decompress (libopenjp2-tools). A peer whose tools are missing is left out of the table.
#
# JPEG has no size target: its quality is searched (1..100) for the file closest to the target
# size, and its actual bits per pixel are shown. JPEG 2000 and Kavel hit the target directly.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build=""
rates="0.5 1 2"
while getopts "b:r:h" option; do
  case "$option" in
    b) build="$OPTARG" ;;
    r) rates="$OPTARG" ;;
    *) sed -n '2,14p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if [[ -z "$build" ]]; then
  for candidate in "$root/build" "$root/build-enc"; do
    [[ -x "$candidate/tools/kavel" ]] && build="$candidate" && break
  done
fi
kavel="${build:-$root/build}/tools/kavel"
if [[ ! -x "$kavel" ]]; then
  echo "compare_quality: no kavel tool at $kavel (build the project, or pass -b BUILD_DIR)" >&2
  exit 1
fi
pictures=("$@")
if [[ ${#pictures[@]} -eq 0 ]]; then
  pictures=("$root"/data/*.png)
fi
have_jpeg=1; have_j2k=1
command -v cjpeg >/dev/null && command -v djpeg >/dev/null || {
  have_jpeg=0; echo "note: cjpeg/djpeg missing (apt-get install libjpeg-turbo-progs): no JPEG column" >&2; }
command -v opj_compress >/dev/null && command -v opj_decompress >/dev/null || {
  have_j2k=0; echo "note: opj_compress/opj_decompress missing (apt-get install libopenjp2-tools): no JPEG 2000 column" >&2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
psnr() { python3 "$here/psnr.py" "$@"; }
bpp_of() { python3 -c "import sys; print('%.3f' % ($(stat -c %s "$1") * 8.0 / $2))"; }

printf "%-22s %6s | %6s %6s | %6s %6s %4s | %6s %6s\n" picture target kavel PSNR JPEG PSNR q J2K PSNR
printf -- "-----------------------------+---------------+--------------------+--------------\n"
for picture in "${pictures[@]}"; do
  name="$(basename "$picture")"
  reference="$work/reference.pnm"
  psnr --pnm "$picture" "$reference"
  read -r magic < "$reference"
  channels=1; [[ "$magic" == "P6" ]] && channels=3
  ext=pgm; [[ $channels -eq 3 ]] && ext=ppm
  pixels=$(python3 -c "
f = open('$reference', 'rb').read().split(None, 3)
print(int(f[1]) * int(f[2]))")
  for rate in $rates; do
    # Kavel.
    "$kavel" encode "$picture" "$work/k.kvl" --bpp "$rate" >/dev/null 2>&1
    "$kavel" decode "$work/k.kvl" -o "$work/k.$ext" >/dev/null
    k_bpp=$(bpp_of "$work/k.kvl" "$pixels"); k_psnr=$(psnr "$reference" "$work/k.$ext")
    # JPEG: the quality whose file is closest to the target.
    j_bpp="-"; j_psnr="-"; j_q="-"
    if [[ $have_jpeg -eq 1 ]]; then
      target=$(python3 -c "print(int($rate * $pixels / 8))")
      lo=1; hi=100
      while (( lo < hi )); do
        mid=$(( (lo + hi + 1) / 2 ))
        cjpeg -quality "$mid" -optimize "$reference" > "$work/j.jpg" 2>/dev/null
        if (( $(stat -c %s "$work/j.jpg") <= target )); then lo=$mid; else hi=$((mid - 1)); fi
      done
      best=$lo; best_miss=1000000000
      for q in $lo $((lo + 1)); do
        (( q > 100 )) && continue
        cjpeg -quality "$q" -optimize "$reference" > "$work/j.jpg" 2>/dev/null
        miss=$(( $(stat -c %s "$work/j.jpg") - target )); miss=${miss#-}
        if (( miss < best_miss )); then best=$q; best_miss=$miss; fi
      done
      cjpeg -quality "$best" -optimize "$reference" > "$work/j.jpg" 2>/dev/null
      djpeg "$work/j.jpg" > "$work/j.$ext" 2>/dev/null
      j_bpp=$(bpp_of "$work/j.jpg" "$pixels"); j_psnr=$(psnr "$reference" "$work/j.$ext"); j_q=$best
    fi
    # JPEG 2000: the ratio to the raw size gives the rate.
    o_bpp="-"; o_psnr="-"
    if [[ $have_j2k -eq 1 ]]; then
      ratio=$(python3 -c "print(8.0 * $channels / $rate)")
      opj_compress -i "$reference" -o "$work/o.j2k" -r "$ratio" >/dev/null 2>&1
      opj_decompress -i "$work/o.j2k" -o "$work/o.$ext" >/dev/null 2>&1
      o_bpp=$(bpp_of "$work/o.j2k" "$pixels"); o_psnr=$(psnr "$reference" "$work/o.$ext")
    fi
    printf "%-22s %6s | %6s %6s | %6s %6s %4s | %6s %6s\n" "$name" "$rate" "$k_bpp" "$k_psnr" \
      "$j_bpp" "$j_psnr" "$j_q" "$o_bpp" "$o_psnr"
  done
done
