#!/usr/bin/env bash
# Times the processing operations of bench_ops against OpenCV and Pillow on
# the same pixels, in the same run, one thread each.
#
#   bench/compare_ops.sh [BUILD_DIR] [REPEATS]
#
# BUILD_DIR is a release build with KORVANE_BENCH=ON (default build/release).
# Each side keeps its best of REPEATS runs (default 3). Prints Korvane time /
# peer time per case (below 1 means Korvane is faster), then the rates of the
# operations without a peer. Times are processor times (Google Benchmark's
# cpu_time, Python's process_time): the machines are shared.
set -euo pipefail
build=${1:-build/release}
repeats=${2:-3}
here=$(cd "$(dirname "$0")" && pwd)
bench="$build/bench/bench_ops"
py=/usr/bin/python3

[[ -x "$bench" ]] || { echo "no $bench: build with -DKORVANE_BENCH=ON" >&2; exit 1; }
"$py" -c "import PIL" 2>/dev/null || { echo "Pillow missing for $py (apt-get install python3-pil)" >&2; exit 1; }
"$py" -c "import cv2" 2>/dev/null || echo "OpenCV missing for $py (apt-get install python3-opencv): its cases are skipped"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --dump-ppm="$work/image.ppm"
"$bench" --dump-pbm="$work/page.pbm"

"$py" "$here/peers_ops.py" "$work/image.ppm" "$work/page.pbm" "$repeats" > "$work/peers.txt"
"$bench" --benchmark_repetitions="$repeats" --benchmark_min_time=0.01 --benchmark_format=json \
  > "$work/korvane.json" 2> /dev/null

"$py" - "$work/korvane.json" "$work/peers.txt" <<'PY'
import json, sys

runs = json.load(open(sys.argv[1]))["benchmarks"]
best, rate = {}, {}
for r in runs:
    if r.get("run_type") != "iteration":
        continue
    name = r["run_name"].split("/")[0]
    ms = r["cpu_time"] * {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[r["time_unit"]]
    best[name] = min(best.get(name, float("inf")), ms)
    for key in ("MP/s", "MB/s"):
        if key in r:
            # The counters are per wall second; rescale them to processor time.
            v = r[key] * r["real_time"] / r["cpu_time"]
            rate[name] = (max(rate.get(name, (0, key))[0], v), key)
peer = {}
for line in open(sys.argv[2]):
    name, v = line.split()
    peer[name] = None if v == "-" else float(v)

cases = [
    ("_ApplyFilter fpHighPass1 / OpenCV filter2D", "BM_ApplyFilterHighPass1", "filter_opencv"),
    ("_ApplyFilter fpHighPass1 / Pillow Kernel", "BM_ApplyFilterHighPass1", "filter_pillow"),
    ("Rotate(30, AA) / OpenCV warpAffine linear", "BM_Rotate30Antialias", "rotate_opencv"),
    ("Rotate(30, AA) / Pillow rotate bicubic", "BM_Rotate30Antialias", "rotate_pillow_bicubic"),
    ("_Rot90 / Pillow transpose", "BM_Rot90", "rot90_pillow"),
    ("Flip horizontal / Pillow transpose", "BM_FlipHorizontal", "flip_pillow"),
    ("_rotate1bit 3 deg page / Pillow rotate 1", "BM_Rotate1Bit3", "rotate1bit_pillow"),
    ("_GetHistogram / Pillow histogram", "BM_GetHistogram", "histogram_pillow"),
]
print(f"{'case':46} {'Korvane ms':>11} {'peer ms':>9} {'ratio':>7}")
for label, ours, theirs in cases:
    k, p = best.get(ours), peer.get(theirs)
    if k is None or p is None:
        print(f"{label:46} {'-':>11} {'-':>9} {'-':>7}")
        continue
    print(f"{label:46} {k:11.1f} {p:9.1f} {k / p:7.2f}")
print()
for name in ["BM_HistAutoEqualize", "BM_Lens", "BM_Wave", "BM_BumpMapping", "BM_HiddenWriteRead"]:
    if name in rate:
        v, key = rate[name]
        print(f"{name[3:]:46} {best[name]:11.1f} ms {v:9.1f} {key}")
PY
