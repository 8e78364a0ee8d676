#!/usr/bin/env bash
# How the operations that share rows between threads scale, and how they
# stand against OpenCV with its default threads and the vips command, on the
# same 4000x3000 pixels in the same run.
#
#   bench/compare_threads.sh [BUILD_DIR] [REPEATS]
#
# BUILD_DIR is a release build with KORVANE_BENCH=ON (default build/release).
# Korvane runs with KORVANE_THREADS=1 and =2; every side keeps its best wall
# time of REPEATS runs (default 3). The vips times are the command's time less
# that of `vips copy` on the same file (start-up, reading and writing).
# Prints, per case: the speed-up from 1 to 2 threads, and Korvane's time on 2
# threads over each peer's (below 1 means Korvane is faster).
set -euo pipefail
build=${1:-build/release}
repeats=${2:-3}
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
for b in bench_ops bench_procs bench_color; do
  [[ -x "$build/bench/$b" ]] || { echo "no $build/bench/$b: build with -DKORVANE_BENCH=ON" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/bench_ops" --dump-ppm="$work/image.ppm"

for t in 1 2; do
  common=(--benchmark_repetitions="$repeats" --benchmark_min_time=0.01 --benchmark_format=json)
  KORVANE_THREADS=$t "$build/bench/bench_procs" --benchmark_filter='^Resample/filter:5/' "${common[@]}" \
    > "$work/procs$t.json" 2> /dev/null
  KORVANE_THREADS=$t "$build/bench/bench_ops" \
    --benchmark_filter='^(BM_ApplyFilterHighPass1|BM_Rotate30Antialias|BM_GetHistogram)' "${common[@]}" \
    > "$work/ops$t.json" 2> /dev/null
  KORVANE_THREADS=$t "$build/bench/bench_color" --benchmark_filter='/(HSLvar|ConvertToGray)/' "${common[@]}" \
    > "$work/color$t.json" 2> /dev/null
done

# OpenCV with its default thread count, wall time.
"$py" - "$work/image.ppm" "$repeats" > "$work/opencv.txt" <<'PY' || true
import math, sys, time
try:
    import cv2
    import numpy as np
except ImportError:
    sys.exit(0)
img = cv2.imread(sys.argv[1])
repeats = int(sys.argv[2])
h, w = img.shape[:2]

def best(fn):
    t = float("inf")
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        t = min(t, time.perf_counter() - t0)
    return t * 1000

def rotate():
    m = cv2.getRotationMatrix2D((w / 2, h / 2), 30, 1)
    c, s = abs(m[0, 0]), abs(m[0, 1])
    nw, nh = int(h * s + w * c), int(h * c + w * s)
    m[0, 2] += nw / 2 - w / 2
    m[1, 2] += nh / 2 - h / 2
    return cv2.warpAffine(img, m, (nw, nh), flags=cv2.INTER_LINEAR)

def hsl():
    hls = cv2.cvtColor(img, cv2.COLOR_BGR2HLS)
    hls[..., 0] = (hls[..., 0].astype(np.int16) + 20) % 180
    return cv2.cvtColor(hls, cv2.COLOR_HLS2BGR)

hp1 = np.array([[0, -1, 0], [-1, 5, -1], [0, -1, 0]], np.float32)
print("threads", cv2.getNumThreads())
print("down", best(lambda: cv2.resize(img, (1000, 750), interpolation=cv2.INTER_LANCZOS4)))
print("up", best(lambda: cv2.resize(img, (6000, 4500), interpolation=cv2.INTER_LANCZOS4)))
print("filter", best(lambda: cv2.filter2D(img, -1, hp1)))
print("rotate", best(rotate))
print("gray", best(lambda: cv2.cvtColor(cv2.cvtColor(img, cv2.COLOR_BGR2GRAY), cv2.COLOR_GRAY2BGR)))
print("hsl", best(hsl))
print("histogram", best(lambda: [cv2.calcHist([img], [c], None, [256], [0, 256]) for c in range(3)]))
PY

# The vips command, less its own start-up and file handling.
if command -v vips > /dev/null; then
  vips copy "$work/image.ppm" "$work/in.v"
  printf '3 3\n0 -1 0\n-1 5 -1\n0 -1 0\n' > "$work/hp1.mat"
  run_vips() {
    local t best=999999
    for _ in $(seq "$repeats"); do
      t=$( { /usr/bin/time -f %e vips "$@" > /dev/null; } 2>&1 | tail -1)
      best=$(echo "$t $best" | awk '{print ($1 < $2) ? $1 : $2}')
    done
    echo "$best"
  }
  base=$(run_vips copy "$work/in.v" "$work/out.v")
  {
    echo "down $(run_vips resize "$work/in.v" "$work/out.v" 0.25 --kernel lanczos3) $base"
    echo "up $(run_vips resize "$work/in.v" "$work/out.v" 1.5 --kernel lanczos3) $base"
    echo "filter $(run_vips conv "$work/in.v" "$work/out.v" "$work/hp1.mat" --precision integer) $base"
    echo "rotate $(run_vips rotate "$work/in.v" "$work/out.v" 30) $base"
    echo "gray $(run_vips colourspace "$work/in.v" "$work/out.v" b-w) $base"
  } | awk '{ printf "%s %.1f\n", $1, ($2 - $3) * 1000 }' > "$work/vips.txt"
else
  echo "vips missing (apt-get install libvips-tools): its cases are skipped"
  : > "$work/vips.txt"
fi

"$py" - "$work" <<'PY'
import json, os, sys
work = sys.argv[1]

def best_times(path):
    out = {}
    for r in json.load(open(path))["benchmarks"]:
        if r.get("run_type") != "iteration":
            continue
        ms = r["real_time"] * {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[r["time_unit"]]
        out[r["run_name"]] = min(out.get(r["run_name"], float("inf")), ms)
    return out

ours = {t: {**best_times(f"{work}/procs{t}.json"), **best_times(f"{work}/ops{t}.json"),
            **best_times(f"{work}/color{t}.json")} for t in (1, 2)}

def peer(name):
    d = {}
    path = f"{work}/{name}.txt"
    if os.path.exists(path):
        for line in open(path):
            k, v = line.split()
            d[k] = float(v)
    return d

cv, vips = peer("opencv"), peer("vips")
if "threads" in cv:
    print(f"OpenCV on {int(cv['threads'])} threads; vips with its default threads")
cases = [
    ("Resample Lanczos3 to 1000x750", "Resample/filter:5/w:1000/h:750/real_time", "down"),
    ("Resample Lanczos3 to 6000x4500", "Resample/filter:5/w:6000/h:4500/real_time", "up"),
    ("_ApplyFilter fpHighPass1", "BM_ApplyFilterHighPass1/real_time", "filter"),
    ("Rotate(30, antialias)", "BM_Rotate30Antialias/real_time", "rotate"),
    ("_HSLvar", "BM_Color/HSLvar/iterations:5", "hsl"),
    ("_ConvertToGray", "BM_Color/ConvertToGray/iterations:5", "gray"),
    ("_GetHistogram", "BM_GetHistogram/real_time", "histogram"),
]
print(f"{'case':32} {'1 thr ms':>9} {'2 thr ms':>9} {'speed-up':>9} {'/OpenCV':>8} {'/vips':>7}")
for label, name, key in cases:
    one, two = ours[1].get(name), ours[2].get(name)
    if one is None or two is None:
        print(f"{label:32} missing")
        continue
    r = lambda d: f"{two / d[key]:.2f}" if d.get(key, 0) > 0 else "-"
    print(f"{label:32} {one:9.1f} {two:9.1f} {one / two:8.2f}x {r(cv):>8} {r(vips):>7}")
PY
