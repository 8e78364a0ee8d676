#!/usr/bin/env bash
# Times the BMP and PCX codecs on a 4000x3000 photo-like image, in the same
# run as their peers, one thread:
#  - 24-bit BMP read against a plain read of the same file into memory;
#  - 24-bit RLE PCX decode and encode against Pillow's (decode timed inside
#    Python from an open file including load(); encode to an in-memory buffer).
# Times are process CPU time (user + system), so that other work on a shared
# machine does not land on either side; each side keeps its best of RUNS runs
# (default 3). Ratios are Korvane time /
# peer time: below 1.0 means Korvane is faster.
set -uo pipefail
build=${1:-build/release}
runs=${RUNS:-3}
bin="$build/bench/bench_bmppcx"
[[ -x "$bin" ]] || { echo "missing $bin (build with -DKORVANE_BENCH=ON)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
py=/usr/bin/python3

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
ms() { awk -v a="$1" 'BEGIN { printf "%.1f ms", a * 1000 }'; }

echo "== BMP 24-bit read, 4000x3000"
"$bin" --write "$work/scene.bmp" || exit 1
read -r k plain < <("$bin" --time-bmp "$work/scene.bmp" "$runs")
echo "Korvane BMPReadStream:      $(ms "$k")"
echo "plain read into memory:     $(ms "$plain")   ratio $(ratio "$k" "$plain")"

echo "== PCX 24-bit RLE, 4000x3000"
"$bin" --write "$work/scene.pcx" || exit 1
read -r kd ke < <("$bin" --time-pcx "$work/scene.pcx" "$runs")
echo "Korvane decode:             $(ms "$kd")"
echo "Korvane encode:             $(ms "$ke")"
if "$py" -c "import PIL" 2> /dev/null; then
  read -r pd pe < <("$py" - "$work/scene.pcx" "$runs" << 'PY'
import io, sys, time
from PIL import Image
path, runs = sys.argv[1], int(sys.argv[2])
def best(f):
    b = 1e30
    for _ in range(runs):
        t = time.process_time(); f(); b = min(b, time.process_time() - t)
    return b
def decode():
    with Image.open(path) as im:
        im.load()
im = Image.open(path); im.load()
print(best(decode), best(lambda: im.save(io.BytesIO(), "PCX")))
PY
  )
  echo "Pillow decode:              $(ms "$pd")   ratio $(ratio "$kd" "$pd")"
  echo "Pillow encode:              $(ms "$pe")   ratio $(ratio "$ke" "$pe")"
else
  echo "Pillow not available to $py"
fi
