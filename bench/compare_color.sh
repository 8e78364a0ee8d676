#!/usr/bin/env bash
# Peer comparison of the color adjustments and depth conversions on the same
# 4000x3000 24-bit image in the same run, one thread:
#  - Negative, IntensityRGBall, ConvertToGray, Threshold and CastColorRange
#    against a plain memcpy of the image's pixels (ratio = op / memcpy);
#  - HSLvar and HSVvar in megapixels per second against Pillow's
#    ImageEnhance.Color and a numpy HSV round trip (hue shift), both timed
#    inside Python on the decoded image;
#  - ordered dithering to black and white against ImageMagick
#    -colorspace Gray -ordered-dither o8x8 with one thread (process time less
#    the time of reading the same file to null:);
#  - reduction to 256 colors with every pixel mapped against Pillow's
#    FASTOCTREE quantize (which maps every pixel to its index).
# Times are processor times (user + system), best of RUNS, so that other load
# on the machine does not count. Ratios are Korvane time / peer time: below
# 1.0 means Korvane is faster.
set -uo pipefail
build=${1:-build/release}
bin="$build/bench/bench_color"
[[ -x "$bin" ]] || { echo "missing $bin (build with -DKORVANE_BENCH=ON)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
py=/usr/bin/python3
im=/usr/bin/convert
runs=${RUNS:-3}
export OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1 MAGICK_THREAD_LIMIT=1

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
ms() { awk -v a="$1" 'BEGIN { printf "%.1f ms", a * 1000 }'; }
mps() { awk -v a="$1" 'BEGIN { printf "%.1f Mpx/s", 12 / a }'; }
kv() { "$bin" --time "$1" "$work/scene.ppm" "$runs"; }

# Best processor time (user + system) in seconds of a command over $runs runs.
best_time() {
  local best="" d
  for ((i = 0; i < runs; i++)); do
    d=$( { TIMEFORMAT='%3U %3S'; time "$@" > /dev/null 2>&1; } 2>&1 | awk '{ print $1 + $2 }')
    if [[ -z "$best" ]] || awk -v a="$d" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$d; fi
  done
  echo "$best"
}

"$bin" --write-image "$work/scene.ppm" || exit 1

echo "== point operations, 4000x3000, against memcpy of the pixels"
copy=$(kv memcpy)
echo "memcpy:              $(ms "$copy")"
for op in Negative IntensityRGBall ConvertToGray Threshold CastColorRange; do
  t=$(kv "$op")
  printf "%-20s %s   ratio %s\n" "$op:" "$(ms "$t")" "$(ratio "$t" "$copy")"
done

echo "== HSL and HSV shifts"
hsl=$(kv HSLvar)
hsv=$(kv HSVvar)
echo "Korvane HSLvar:      $(ms "$hsl")  $(mps "$hsl")"
echo "Korvane HSVvar:      $(ms "$hsv")  $(mps "$hsv")"
if "$py" -c "import PIL, numpy" 2> /dev/null; then
  read -r color nphsv < <("$py" - "$work/scene.ppm" "$runs" << 'EOF2'
import sys, time
import numpy as np
from PIL import Image, ImageEnhance
im = Image.open(sys.argv[1]); im.load()
runs = int(sys.argv[2])
def best(f):
    b = 1e30
    for _ in range(runs):
        t = time.process_time(); f(); b = min(b, time.process_time() - t)
    return b
def color():
    ImageEnhance.Color(im).enhance(1.3).load()
# RGB -> HSV -> shifted hue -> RGB, vectorised over the whole image.
def hsv_round_trip():
    a = np.asarray(im, dtype=np.float32) / 255.0
    r, g, b = a[..., 0], a[..., 1], a[..., 2]
    mx = a.max(-1); mn = a.min(-1); d = mx - mn
    s = np.where(mx > 0, d / np.where(mx > 0, mx, 1), 0)
    dd = np.where(d > 0, d, 1)
    h = np.where(mx == r, (g - b) / dd, np.where(mx == g, 2 + (b - r) / dd, 4 + (r - g) / dd))
    h = (h / 6.0 + 20 / 360.0) % 1.0
    v = mx
    i = np.floor(h * 6); f = h * 6 - i
    p = v * (1 - s); q = v * (1 - s * f); t = v * (1 - s * (1 - f))
    i = i.astype(np.int32) % 6
    out = np.choose(i[..., None], [np.stack(x, -1) for x in ((v, t, p), (q, v, p), (p, v, t), (p, q, v), (t, p, v), (v, p, q))])
    Image.fromarray((out * 255 + 0.5).astype(np.uint8))
print(best(color), best(hsv_round_trip))
EOF2
  )
  echo "Pillow ImageEnhance.Color: $(ms "$color")  $(mps "$color")   HSLvar ratio $(ratio "$hsl" "$color"), HSVvar ratio $(ratio "$hsv" "$color")"
  echo "numpy HSV round trip:      $(ms "$nphsv")  $(mps "$nphsv")   HSLvar ratio $(ratio "$hsl" "$nphsv"), HSVvar ratio $(ratio "$hsv" "$nphsv")"
else
  echo "Pillow or numpy not available to $py"
fi

echo "== ordered dithering to black and white"
bw=$(kv ConvertToBWOrdered)
echo "Korvane ConvertToBWOrdered: $(ms "$bw")"
if [[ -x "$im" ]]; then
  read_only=$(best_time "$im" -limit thread 1 "$work/scene.ppm" null:)
  dith=$(best_time "$im" -limit thread 1 "$work/scene.ppm" -colorspace Gray -ordered-dither o8x8 null:)
  imd=$(awk -v a="$dith" -v b="$read_only" 'BEGIN { print a - b }')
  echo "ImageMagick -ordered-dither o8x8: $(ms "$imd") (one thread, $(ms "$dith") with reading)   ratio $(ratio "$bw" "$imd")"
else
  echo "ImageMagick convert not available"
fi

echo "== reduction to 256 colors, every pixel mapped"
q=$(kv ConvertTo256)
echo "Korvane _ConvertTo(256): $(ms "$q")"
if "$py" -c "import PIL" 2> /dev/null; then
  oct=$("$py" - "$work/scene.ppm" "$runs" << 'EOF2'
import sys, time
from PIL import Image
im = Image.open(sys.argv[1]); im.load()
b = 1e30
for _ in range(int(sys.argv[2])):
    t = time.process_time(); im.quantize(256, method=Image.Quantize.FASTOCTREE).load()
    b = min(b, time.process_time() - t)
print(b)
EOF2
  )
  echo "Pillow FASTOCTREE quantize: $(ms "$oct")   ratio $(ratio "$q" "$oct")"
else
  echo "Pillow not available to $py"
fi
