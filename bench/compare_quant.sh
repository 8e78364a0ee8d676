#!/usr/bin/env bash
# Peer comparison of the quantizer and the YUV converters, on the very same
# pixels in the same run:
#  - median cut to 256 colors plus mapping every pixel of a 4000x3000
#    photo-like image, against Pillow's quantize(256) with MEDIANCUT and with
#    FASTOCTREE (timed inside Python on the decoded image) and ImageMagick
#    convert +dither -colors 256 (process time less the time of reading the
#    same file to null:);
#  - UYVY and I420 1920x1080 frames to 24-bit, against ffmpeg -pix_fmt bgr24
#    with one thread (per-frame time from two runs of different frame counts,
#    which cancels start-up and file opening).
# Ratios are Korvane time / peer time: below 1.0 means Korvane is faster.
set -uo pipefail
build=${1:-build/release}
bin="$build/bench/bench_quant"
[[ -x "$bin" ]] || { echo "missing $bin (build with -DKORVANE_BENCH=ON)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
py=/usr/bin/python3
im=/usr/bin/convert
runs=${RUNS:-3}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
ms() { awk -v a="$1" 'BEGIN { printf "%.1f ms", a * 1000 }'; }

# Best wall time in seconds of a command over $runs runs.
best_time() {
  local best="" t0 t1 d
  for ((i = 0; i < runs; i++)); do
    t0=$(date +%s.%N)
    "$@" > /dev/null 2>&1 || { echo "fail"; return; }
    t1=$(date +%s.%N)
    d=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    if [[ -z "$best" ]] || awk -v a="$d" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$d; fi
  done
  echo "$best"
}

echo "== 256-color reduction, 4000x3000"
"$bin" --write-image "$work/scene.ppm" || exit 1
k=$("$bin" --time-quant "$work/scene.ppm" "$runs")
echo "Korvane median cut + map:       $(ms "$k")"

if "$py" -c "import PIL" 2> /dev/null; then
  read -r pmc poct < <("$py" - "$work/scene.ppm" "$runs" << 'EOF'
import sys, time
from PIL import Image
im = Image.open(sys.argv[1]); im.load()
runs = int(sys.argv[2])
def best(method):
    b = 1e30
    for _ in range(runs):
        t = time.perf_counter(); q = im.quantize(256, method=method); q.load()
        b = min(b, time.perf_counter() - t)
    return b
# The median cut takes seconds: one run is enough for it.
b = 1e30
t = time.perf_counter(); im.quantize(256, method=Image.Quantize.MEDIANCUT).load(); b = time.perf_counter() - t
print(b, best(Image.Quantize.FASTOCTREE))
EOF
  )
  echo "Pillow MEDIANCUT:               $(ms "$pmc")   ratio $(ratio "$k" "$pmc")"
  echo "Pillow FASTOCTREE:              $(ms "$poct")   ratio $(ratio "$k" "$poct")"
else
  echo "Pillow not available to $py"
fi

if [[ -x "$im" ]]; then
  read_only=$(MAGICK_THREAD_LIMIT=1 best_time "$im" "$work/scene.ppm" null:)
  reduce=$(MAGICK_THREAD_LIMIT=1 best_time "$im" "$work/scene.ppm" +dither -colors 256 null:)
  imq=$(awk -v a="$reduce" -v b="$read_only" 'BEGIN { print a - b }')
  echo "ImageMagick +dither -colors 256: $(ms "$imq") (one thread, $(ms "$reduce") with reading)   ratio $(ratio "$k" "$imq")"
else
  echo "ImageMagick convert not available"
fi

echo "== 1920x1080 frames to 24-bit"
for fmt in UYVY I420; do
  case $fmt in UYVY) pix=uyvy422 ;; I420) pix=yuv420p ;; esac
  n=40
  "$bin" --write-frames "$fmt" "$work/frames.$fmt" "$n" || exit 1
  head -c $(( $(stat -c %s "$work/frames.$fmt") / n * 4 )) "$work/frames.$fmt" > "$work/short.$fmt"
  k=$("$bin" --time-frames "$fmt" "$work/frames.$fmt" "$n" "$runs")
  echo "Korvane $fmt:   $(ms "$k") per frame"
  ff() {
    ffmpeg -v error -threads 1 -filter_threads 1 -f rawvideo -pix_fmt "$pix" -s 1920x1080 -i "$1" \
      -pix_fmt bgr24 -f rawvideo -y /dev/null
  }
  long=$(best_time ff "$work/frames.$fmt")
  short=$(best_time ff "$work/short.$fmt")
  f=$(awk -v a="$long" -v b="$short" -v n="$n" 'BEGIN { print (a - b) / (n - 4) }')
  echo "ffmpeg $fmt:    $(ms "$f") per frame   ratio $(ratio "$k" "$f")"
done
