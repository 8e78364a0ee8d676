#!/usr/bin/env bash
# Peer comparison of the TIFF codec against libtiff's tiffcp on the very same
# files in the same run, one thread: LZW decode and encode of a 4000x3000 RGB
# image and Group 4 decode and encode of a 2480x3508 bilevel page. Each side
# does the same work: read a file and write it with another compression
# (decode: compressed -> none; encode: none -> compressed), as a whole
# process. Times are CPU time (the least of RUNS runs, default 10, by perf's task clock
# or user + system time), which a busy machine disturbs far less than wall
# time. Each side's start-up, measured alone in the same run, is taken off:
# the benchmark program loads Qt with the library (some 30 ms before main,
# more than a whole fax page takes to decode), and tiffcp's, though a few
# milliseconds, is of the same order as a fax page too.
# Ratios are Korvane time / tiffcp time: below 1.0 means Korvane is faster.
source "$(dirname "$0")/tiff_timing.sh"

"$bin" --write "$work" || exit 1
k_base=$(best_cpu_writing "$work/k_out.tif" "$bin" --convert "$work/page_none.tif" "$work/k_out.tif" none 0)
# tiffcp's start-up: the copy of an 8x8 page.
t_base=0
if tiffcrop -U px -z 1,1,8,8 "$work/page_none.tif" "$work/tiny.tif" > /dev/null 2>&1; then
  t_base=$(best_cpu_writing "$work/t_out.tif" tiffcp -c none "$work/tiny.tif" "$work/t_out.tif")
fi
row() {  # name input output-compression tiffcp-compression
  local k t
  k=$(best_cpu_writing "$work/k_out.tif" "$bin" --convert "$work/$2" "$work/k_out.tif" "$3" 1)
  k=$(minus "$k" "$k_base")
  t=$(best_cpu_writing "$work/t_out.tif" tiffcp -c "$4" "$work/$2" "$work/t_out.tif")
  t=$(minus "$t" "$t_base")
  printf "%-28s Korvane %10s  tiffcp %10s  ratio %s\n" "$1" "$(ms "$k")" "$(ms "$t")" "$(ratio "$k" "$t")"
}
row "LZW decode 4000x3000 RGB" rgb_lzw.tif none none
row "LZW encode 4000x3000 RGB" rgb_none.tif lzw lzw:2
row "G4 decode 2480x3508" page_g4.tif none none
row "G4 encode 2480x3508" page_none.tif g4 g4
