#!/usr/bin/env bash
# Peer comparison of the TIFF reader on the pages scanners and other programs
# write, in the same run, one thread. A 4000x3000 (12 MP) photo-like RGB page
# is made by tiffcp from the codec's uncompressed file:
#   - Deflate (-c zip, and -c zip:2 with horizontal differencing): Korvane's
#     decode against libtiff's (tiffcp -c none into a file of the scratch
#     folder: tiffcp cannot write its directory to /dev/null) and Pillow's
#     load (which goes through libtiff; Python's start-up and import are
#     measured alone and taken off);
#   - JPEG in one strip (-c jpeg, YCbCr 2x2): Korvane's decode against djpeg
#     of the very same JPEG data (the strip with the page's tables spliced
#     in, written as a PPM to /dev/null).
# Times are CPU time (perf's task clock averaged over RUNS, or the best user +
# system time), which a busy machine disturbs far less than wall time. The
# benchmark program loads Qt and FFmpeg with the library (some 40 ms before
# main): its start-up, measured alone, is taken off as Python's is; tiffcp's
# and djpeg's (a millisecond or two) are left in. Ratios are Korvane time /
# peer time: below 1.0 means Korvane is faster.
set -uo pipefail
build=${1:-build/release}
bin="$build/bench/bench_tiff"
[[ -x "$bin" ]] || { echo "missing $bin (build with -DKORVANE_BENCH=ON)"; exit 1; }
command -v tiffcp > /dev/null || { echo "tiffcp (libtiff-tools) is not installed: skipped"; exit 0; }
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is not installed: skipped"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=${RUNS:-5}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
ms() { awk -v a="$1" 'BEGIN { printf "%.1f ms", a * 1000 }'; }
if perf stat -e task-clock true > /dev/null 2>&1; then
  best_cpu() {
    perf stat -x, -e task-clock -r "$runs" -o "$work/cpu.txt" "$@" > /dev/null 2>&1 || { echo "fail"; return; }
    awk -F, '/task-clock/ { print $1 / 1000 }' "$work/cpu.txt"
  }
else
  best_cpu() {
    local best="" d
    for ((i = 0; i < runs; i++)); do
      /usr/bin/time -o "$work/cpu.txt" -f "%U %S" "$@" > /dev/null 2>&1 || { echo "fail"; return; }
      d=$(awk 'END { print $1 + $2 }' "$work/cpu.txt")
      if [[ -z "$best" ]] || awk -v a="$d" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$d; fi
    done
    echo "$best"
  }
fi

"$bin" --write "$work" || exit 1
tiffcp -c zip "$work/rgb_none.tif" "$work/rgb_zip.tif" || exit 1
tiffcp -c zip:2 "$work/rgb_none.tif" "$work/rgb_zip2.tif" || exit 1
tiffcp -c jpeg -r 3000 "$work/rgb_none.tif" "$work/rgb_jpeg.tif" || exit 1
"$bin" --jpeg-of "$work/rgb_jpeg.tif" "$work/rgb.jpg" || { echo "could not take the JPEG data out"; exit 1; }

python=/usr/bin/python3
pillow=no
if "$python" -c "import PIL.Image" 2> /dev/null; then pillow=yes; fi
pil_base=0
if [[ $pillow == yes ]]; then
  pil_base=$(best_cpu "$python" -c "import sys, PIL.Image; PIL.Image.open(sys.argv[1])" "$work/rgb_zip.tif")
fi

k_base=$(best_cpu "$bin" --decode "$work/none.tif" 0)
korvane() { awk -v a="$(best_cpu "$bin" --decode "$work/$1" 1)" -v b="$k_base" 'BEGIN { print a - b }'; }

deflate_row() {  # name file
  local k t p
  k=$(korvane "$2")
  t=$(best_cpu tiffcp -c none "$work/$2" "$work/t_out.tif")
  printf "%-34s Korvane %10s  tiffcp %10s  ratio %s\n" "$1" "$(ms "$k")" "$(ms "$t")" "$(ratio "$k" "$t")"
  if [[ $pillow == yes ]]; then
    p=$(best_cpu "$python" -c "import sys, PIL.Image; PIL.Image.open(sys.argv[1]).load()" "$work/$2")
    p=$(awk -v a="$p" -v b="$pil_base" 'BEGIN { print a - b }')
    printf "%-34s Korvane %10s  Pillow %10s  ratio %s\n" "" "$(ms "$k")" "$(ms "$p")" "$(ratio "$k" "$p")"
  fi
}
deflate_row "Deflate decode 4000x3000 RGB" rgb_zip.tif
deflate_row "Deflate+predictor decode" rgb_zip2.tif

k=$(korvane rgb_jpeg.tif)
d=$(best_cpu djpeg -outfile /dev/null "$work/rgb.jpg")
printf "%-34s Korvane %10s  djpeg  %10s  ratio %s\n" "JPEG-in-TIFF decode 4000x3000" "$(ms "$k")" "$(ms "$d")" \
  "$(ratio "$k" "$d")"
