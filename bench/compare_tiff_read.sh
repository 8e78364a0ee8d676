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
# Times are CPU time (the least of RUNS runs, default 10, by perf's task clock
# or user + system time), which a busy machine disturbs far less than wall
# time. The
# benchmark program loads Qt with the library (some 30 ms before
# main): its start-up, measured alone, is taken off as Python's is; tiffcp's
# and djpeg's (a millisecond or two) are left in. Ratios are Korvane time /
# peer time: below 1.0 means Korvane is faster.
source "$(dirname "$0")/tiff_timing.sh"

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
korvane() { minus "$(best_cpu "$bin" --decode "$work/$1" 1)" "$k_base"; }

deflate_row() {  # name file
  local k t p
  k=$(korvane "$2")
  t=$(best_cpu tiffcp -c none "$work/$2" "$work/t_out.tif")
  printf "%-34s Korvane %10s  tiffcp %10s  ratio %s\n" "$1" "$(ms "$k")" "$(ms "$t")" "$(ratio "$k" "$t")"
  if [[ $pillow == yes ]]; then
    p=$(best_cpu "$python" -c "import sys, PIL.Image; PIL.Image.open(sys.argv[1]).load()" "$work/$2")
    p=$(minus "$p" "$pil_base")
    printf "%-34s Korvane %10s  Pillow %10s  ratio %s\n" "" "$(ms "$k")" "$(ms "$p")" "$(ratio "$k" "$p")"
  fi
}
deflate_row "Deflate decode 4000x3000 RGB" rgb_zip.tif
deflate_row "Deflate+predictor decode" rgb_zip2.tif

k=$(korvane rgb_jpeg.tif)
d=$(best_cpu djpeg -outfile /dev/null "$work/rgb.jpg")
printf "%-34s Korvane %10s  djpeg  %10s  ratio %s\n" "JPEG-in-TIFF decode 4000x3000" "$(ms "$k")" "$(ms "$d")" \
  "$(ratio "$k" "$d")"
