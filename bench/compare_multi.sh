#!/usr/bin/env bash
# The multi-image view and AVI against peers, processor time (user + system),
# one thread, one run (the AVI load: the best of three):
#   - 100 x 100 thumbnails of 100 4000x3000 JPEGs through on-demand loading
#     (kvtThumb) against vipsthumbnail --size 100 on the same files;
#   - one paint of a full 1600 x 1000 grid of compact cells (ms per paint);
#   - loading a 100-frame 1920x1080 MJPEG AVI against
#     ffmpeg -threads 1 -i F -f null -;
#   - a view of 2,000 file-name images (the 100 JPEGs in turn) scrolled from
#     end to end: pictures held at most and peak resident memory.
#
#   bench/compare_multi.sh [BUILD_DIR] [IMAGES]
set -euo pipefail
build=${1:-build/release}
images=${2:-2000}
bench="$build/bench/bench_multi"
[[ -x "$bench" ]] || { echo "no $bench: build with -DKORVANE_BENCH=ON" >&2; exit 1; }
work=${KORVANE_BENCH_WORK:-$(mktemp -d)}
mkdir -p "$work/jpg" "$work/vips"
export QT_QPA_PLATFORM=offscreen VIPS_CONCURRENCY=1

# Processor time of a command in seconds.
cpu() { python3 -c '
import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{u.ru_utime + u.ru_stime:.3f}")' "$@"; }
value() { awk -v k="$1" '$1 == k { print $2 }'; }

if [[ ! -f "$work/jpg/img100.jpg" ]]; then
  ffmpeg -v error -f lavfi -i testsrc2=size=4000x3000:rate=1 -frames:v 100 -q:v 3 "$work/jpg/img%03d.jpg"
fi
if [[ ! -f "$work/mjpeg.avi" ]]; then
  ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 100 -c:v mjpeg -q:v 3 "$work/mjpeg.avi"
fi

out=$("$bench" thumbs "$work/jpg")
k=$(value thumbs_cpu <<< "$out")
v=$(cpu vipsthumbnail --size 100 -o "$work/vips/%s.jpg" "$work"/jpg/*.jpg)
echo "thumbnails of 100 4000x3000 JPEGs: Korvane ${k}s, vipsthumbnail ${v}s, ratio $(python3 -c "print(f'{$k/$v:.2f}')")"

out=$("$bench" paint)
echo "paint of a full 1600x1000 grid ($(value paint_cells <<< "$out") cells): $(value paint_ms <<< "$out") ms"

# Best of three on each side: one run of either swings by a third on a busy
# machine.
k="" f=""
for _ in 1 2 3; do
  out=$("$bench" avi "$work/mjpeg.avi")
  k=$(python3 -c "import sys; v=[float(x) for x in sys.argv[1:] if x]; print(f'{min(v):.3f}')" $k "$(value avi_cpu <<< "$out")")
  f=$(python3 -c "import sys; v=[float(x) for x in sys.argv[1:] if x]; print(f'{min(v):.3f}')" $f "$(cpu ffmpeg -threads 1 -i "$work/mjpeg.avi" -f null -)")
done
echo "100-frame 1920x1080 MJPEG AVI ($(value avi_frames <<< "$out") frames): Korvane ${k}s, ffmpeg ${f}s, ratio $(python3 -c "print(f'{$k/$f:.2f}')")"

out=$("$bench" memory "$work/jpg" "$images")
echo "view of $images file-name images scrolled end to end: visible at most $(value memory_visible_max <<< "$out"), held at most $(value memory_held_max <<< "$out"), peak RSS $(value memory_peak_rss <<< "$out") MiB, $(value memory_cpu <<< "$out")s"
