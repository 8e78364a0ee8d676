#!/usr/bin/env bash
# The multi-image I/O component against Pillow, processor time (user +
# system), one thread, best of RUNS (default 3):
#   - a 4,000-frame 64x48 GIF and a 4,000-page 64x48 TIFF (made by Pillow)
#     loaded into a view (every frame) and saved from it, against Pillow's
#     ImageSequence load (every frame kept) and save_all of the same file;
#   - saving a view of IMAGES (default 2,000) file-name 4000x3000 JPEGs as an
#     MJPEG AVI: pictures held at most and peak resident memory.
# Ratios are Korvane time / Pillow time: below 1.0 means Korvane is faster.
#
#   bench/compare_mio.sh [BUILD_DIR] [IMAGES]
set -euo pipefail
build=${1:-build/release}
images=${2:-2000}
bench="$build/bench/bench_mio"
[[ -x "$bench" ]] || { echo "no $bench: build with -DKORVANE_BENCH=ON" >&2; exit 1; }
py=/usr/bin/python3
"$py" -c "import PIL" 2> /dev/null || { echo "Pillow not available to $py" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=${RUNS:-3}
frames=${FRAMES:-4000}
export QT_QPA_PLATFORM=offscreen OMP_NUM_THREADS=1
value() { awk -v k="$1" '$1 == k { print $2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# The same moving pattern as a GIF (a palette of 64 colors) and an RGB TIFF.
"$py" - "$work" "$frames" << 'EOF'
import sys
from PIL import Image
work, n = sys.argv[1], int(sys.argv[2])
pal = []
for i in range(64):
    pal += [i * 4, 255 - i * 4, (i * 37) % 256]
frames = []
for k in range(n):
    im = Image.new("P", (64, 48))
    im.putpalette(pal)
    im.putdata([((x + k) // 4 + (y * 3 + k) // 5) % 64 for y in range(48) for x in range(64)])
    frames.append(im)
frames[0].save(f"{work}/in.gif", save_all=True, append_images=frames[1:], duration=40, loop=0)
rgb = [f.convert("RGB") for f in frames]
rgb[0].save(f"{work}/in.tif", save_all=True, append_images=rgb[1:])
EOF

for fmt in gif tif; do
  out=$("$bench" roundtrip "$work/in.$fmt" "$work/korvane.$fmt" "$runs")
  kl=$(value load_cpu <<< "$out")
  ks=$(value save_cpu <<< "$out")
  kf=$(value frames <<< "$out")
  read -r pl ps pf < <("$py" - "$work/in.$fmt" "$work/pillow.$fmt" "$runs" << 'EOF'
import sys, time
from PIL import Image, ImageSequence
path, out, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
load = save = 1e30
for _ in range(runs):
    t = time.process_time()
    with Image.open(path) as im:
        frames = [f.copy() for f in ImageSequence.Iterator(im)]
    load = min(load, time.process_time() - t)
    t = time.process_time()
    frames[0].save(out, save_all=True, append_images=frames[1:])
    save = min(save, time.process_time() - t)
print(load, save, len(frames))
EOF
  )
  name=$([[ $fmt == gif ]] && echo "GIF, $kf frames" || echo "TIFF, $kf pages")
  echo "$name 64x48 (Pillow: $pf):"
  echo "  load: Korvane ${kl}s, Pillow ${pl}s, ratio $(ratio "$kl" "$pl")"
  echo "  save: Korvane ${ks}s, Pillow ${ps}s, ratio $(ratio "$ks" "$ps")"
done

if [[ "$images" -gt 0 ]]; then
  mkdir -p "$work/jpg"
  ffmpeg -v error -f lavfi -i testsrc2=size=4000x3000:rate=1 -frames:v 20 -q:v 3 "$work/jpg/img%03d.jpg"
  out=$("$bench" ondemand "$work/jpg" "$images" "$work/photos.avi")
  echo "saving $images file-name 4000x3000 JPEGs as MJPEG AVI: held at most $(value ondemand_held_max <<< "$out")," \
    "peak RSS $(value ondemand_peak_rss <<< "$out") MiB (before the save $(value ondemand_rss_before <<< "$out") MiB)," \
    "$(value ondemand_cpu <<< "$out")s, file $(($(stat -c %s "$work/photos.avi") / 1048576)) MiB"
fi
