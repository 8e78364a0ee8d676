#!/usr/bin/env bash
# Work spread over threads against peers, wall time, the best of three runs
# on each side (one run swings by a third on a busy machine):
#   - 128 x 128 thumbnails of 100 4000x3000 JPEGs in the multi-image view
#     decoding on worker threads (one per processor), from naming the files
#     to the paint that shows the last one, against vipsthumbnail --size 128
#     on the same files (its own threads), and the one-thread view for scale;
#   - korvane convert of 24 1600x1200 JPEGs to PNG (compression 6) with
#     -j 2, against mogrify (2 threads) and vips copy run 2 at a time.
#
#   bench/compare_thumbs.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build/release}
bench="$build/bench/bench_multi"
cli="$build/apps/korvane/korvane"
[[ -x "$bench" ]] || { echo "no $bench: build with -DKORVANE_BENCH=ON" >&2; exit 1; }
[[ -x "$cli" ]] || { echo "no $cli: build the korvane-cli target" >&2; exit 1; }
work=${KORVANE_BENCH_WORK:-$(mktemp -d)}
mkdir -p "$work/jpg" "$work/small" "$work/out"
export QT_QPA_PLATFORM=offscreen
threads=$(nproc)

# Wall time of a command in seconds.
wall() { python3 -c '
import subprocess, sys, time
t = time.perf_counter()
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print(f"{time.perf_counter() - t:.3f}")' "$@"; }
value() { awk -v k="$1" '$1 == k { print $2 }'; }
best() { python3 -c "import sys; print(f'{min(float(x) for x in sys.argv[1:]):.3f}')" "$@"; }
ratio() { python3 -c "print(f'{$1/$2:.2f}')"; }
clean() { rm -rf "$work/out" && mkdir -p "$work/out"; }

if [[ ! -f "$work/jpg/img100.jpg" ]]; then
  ffmpeg -v error -f lavfi -i testsrc2=size=4000x3000:rate=1 -frames:v 100 -q:v 3 "$work/jpg/img%03d.jpg"
fi
if [[ ! -f "$work/small/img24.jpg" ]]; then
  ffmpeg -v error -f lavfi -i testsrc2=size=1600x1200:rate=1 -frames:v 24 -q:v 3 "$work/small/img%02d.jpg"
fi

k=() v=() s=()
for _ in 1 2 3; do
  k+=("$("$bench" parallel "$work/jpg" "$threads" 128 2>/dev/null | value parallel_wall)")
  clean
  v+=("$(wall vipsthumbnail --size 128 -o "$work/out/%s.jpg" "$work"/jpg/*.jpg)")
done
s+=("$("$bench" parallel "$work/jpg" 0 128 2>/dev/null | value parallel_wall)")
k=$(best "${k[@]}") v=$(best "${v[@]}")
echo "thumbnails of 100 4000x3000 JPEGs, $threads threads: Korvane ${k}s, vipsthumbnail ${v}s, ratio $(ratio "$k" "$v") (one thread: ${s[0]}s)"

k=() m=() p=()
for _ in 1 2 3; do
  clean
  k+=("$(wall "$cli" convert "$work"/small/*.jpg -o "$work/out" --format png --set PNG_Compression=6 -j 2 --quiet)")
  clean
  m+=("$(wall env MAGICK_THREAD_LIMIT=2 mogrify -path "$work/out" -format png -quality 65 "$work"/small/*.jpg)")
  clean
  p+=("$(wall sh -c 'ls "$1"/*.jpg | xargs -P 2 -I{} sh -c "vips copy {} \"$2/\$(basename {} .jpg).png[compression=6]\""' _ "$work/small" "$work/out")")
done
k=$(best "${k[@]}") m=$(best "${m[@]}") p=$(best "${p[@]}")
echo "convert of 24 1600x1200 JPEGs to PNG, 2 at a time: Korvane ${k}s, mogrify ${m}s (ratio $(ratio "$k" "$m")), vips ${p}s (ratio $(ratio "$k" "$p"))"
