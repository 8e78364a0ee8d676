#!/usr/bin/env bash
# Times the magic wand mask against OpenCV's cv2.floodFill (4-connected,
# fixed range against the seed, mask only, one thread) on the same 4000x3000
# image with one large region, in the same run, and checks that both fill the
# same number of pixels.
#
#   bench/compare_wand.sh [BUILD_DIR] [REPEATS]
set -euo pipefail
build=${1:-build/release}
repeats=${2:-7}
bench="$build/bench/bench_wand"
py=/usr/bin/python3

[[ -x "$bench" ]] || { echo "no $bench: build with -DKORVANE_BENCH=ON" >&2; exit 1; }
"$py" -c "import cv2" 2>/dev/null || { echo "OpenCV missing for $py (apt-get install python3-opencv)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --dump-ppm="$work/image.ppm"
"$bench" --benchmark_repetitions="$repeats" --benchmark_format=json > "$work/korvane.json" 2> /dev/null

"$py" - "$work/image.ppm" "$work/korvane.json" "$repeats" <<'PY'
import json, sys, time
import cv2
import numpy as np

cv2.setNumThreads(1)
img = cv2.imread(sys.argv[1], cv2.IMREAD_COLOR)
h, w = img.shape[:2]
tol = (20, 20, 20)
flags = 4 | cv2.FLOODFILL_FIXED_RANGE | cv2.FLOODFILL_MASK_ONLY | (1 << 8)
best = float("inf")
for _ in range(int(sys.argv[3])):
    mask = np.zeros((h + 2, w + 2), np.uint8)
    t = time.perf_counter()
    cv2.floodFill(img, mask, (100, 3), 0, tol, tol, flags)  # seed as in bench_wand
    best = min(best, (time.perf_counter() - t) * 1e3)
cv_pixels = int(mask[1:-1, 1:-1].sum())

runs = [r for r in json.load(open(sys.argv[2]))["benchmarks"] if r.get("run_type") == "iteration"]
unit = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
k = min(r["real_time"] * unit[r["time_unit"]] for r in runs)
k_pixels = int(runs[0]["region_pixels"])
print(f"OpenCV {cv2.__version__}, best of {sys.argv[3]} runs each")
print(f"{'case':44} {'Korvane ms':>10} {'OpenCV ms':>10} {'ratio':>6}")
print(f"{'_MakeMagicWandBitmap 4000x3000, one region':44} {k:10.1f} {best:10.1f} {k / best:6.2f}")
print(f"region pixels: Korvane {k_pixels}, OpenCV {cv_pixels}" + ("" if k_pixels == cv_pixels else "  MISMATCH"))
sys.exit(0 if k_pixels == cv_pixels else 1)
PY
