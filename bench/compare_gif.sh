#!/usr/bin/env bash
# Peer comparison of the GIF codec on the very same file, one thread: a
# 4000x3000 photo-like image in 256 colors, written by Korvane,
#  - decoded by Korvane to a 24-bit bitmap and by Pillow (open + load, and
#    also with the conversion to RGB that our bitmap includes);
#  - encoded by Korvane from that bitmap (palette, indices, LZW) and by
#    Pillow from its palette image (save to memory); Korvane's LZW encoder
#    alone on the indices is shown too.
# Ratios are Korvane time / peer time: below 1.0 means Korvane is faster.
set -uo pipefail
build=${1:-build/release}
bin="$build/bench/bench_gif"
[[ -x "$bin" ]] || { echo "missing $bin (build with -DKORVANE_BENCH=ON)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
py=/usr/bin/python3
runs=${RUNS:-3}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
ms() { awk -v a="$1" 'BEGIN { printf "%.1f ms", a * 1000 }'; }

echo "== GIF 4000x3000, 256 colors"
"$bin" --write-image "$work/scene.gif" || exit 1
echo "file size: $(stat -c %s "$work/scene.gif") bytes"
kr=$("$bin" --time-read "$work/scene.gif" "$runs")
kw=$("$bin" --time-write "$work/scene.gif" "$runs")
kl=$("$bin" --time-lzw "$work/scene.gif" "$runs")
echo "Korvane read to 24-bit:          $(ms "$kr")"
echo "Korvane write (palette + LZW):   $(ms "$kw")"
echo "Korvane LZW encoder alone:       $(ms "$kl")"

if "$py" -c "import PIL" 2> /dev/null; then
  read -r pr prgb pw < <(OMP_NUM_THREADS=1 "$py" - "$work/scene.gif" "$runs" << 'EOF2'
import io, sys, time
from PIL import Image
path, runs = sys.argv[1], int(sys.argv[2])
def best(f):
    b = 1e30
    for _ in range(runs):
        t = time.perf_counter(); f(); b = min(b, time.perf_counter() - t)
    return b
def read():
    im = Image.open(path); im.load()
def read_rgb():
    im = Image.open(path); im.load(); im.convert('RGB')
im = Image.open(path); im.load()
def write():
    im.save(io.BytesIO(), 'GIF')
print(best(read), best(read_rgb), best(write))
EOF2
  )
  echo "Pillow decode (open + load):     $(ms "$pr")   ratio $(ratio "$kr" "$pr")"
  echo "Pillow decode + convert RGB:     $(ms "$prgb")   ratio $(ratio "$kr" "$prgb")"
  echo "Pillow encode (save P image):    $(ms "$pw")   ratio $(ratio "$kw" "$pw") (LZW alone $(ratio "$kl" "$pw"))"
else
  echo "Pillow not available to $py"
fi
