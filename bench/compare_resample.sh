#!/usr/bin/env bash
# Times _Resample against Pillow's Image.resize on the same pixels, in the
# same run, and _Conv1to24 against a plain memcpy of its 24-bit result.
#
#   bench/compare_resample.sh [BUILD_DIR] [REPEATS]
#
# BUILD_DIR is a release build with KORVANE_BENCH=ON (default build/release).
# Each side keeps its best of REPEATS runs (default 5), which is the least
# disturbed by other work on the machine. Prints one ratio per case:
# Korvane time / Pillow time (below 1 means Korvane is faster).
set -euo pipefail
build=${1:-build/release}
repeats=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
bench="$build/bench/bench_procs"
py=/usr/bin/python3  # Debian's python3-pil lives here

[[ -x "$bench" ]] || { echo "no $bench: build with -DKORVANE_BENCH=ON" >&2; exit 1; }
"$py" -c "import PIL" 2>/dev/null || { echo "Pillow missing for $py (apt-get install python3-pil)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --dump-ppm="$work/image.ppm"

echo "Pillow $("$py" -c 'import PIL; print(PIL.__version__)'), $repeats runs each, best time kept"
"$py" "$here/pillow_resize.py" "$work/image.ppm" "$repeats" > "$work/pillow.txt"
"$bench" --benchmark_filter='^(Resample/|Conv1to24|Memcpy24)' --benchmark_repetitions="$repeats" \
  --benchmark_min_time=0.01 --benchmark_format=json > "$work/korvane.json" 2> /dev/null

"$py" - "$work/korvane.json" "$work/pillow.txt" <<'PY'
import json, sys

runs = json.load(open(sys.argv[1]))["benchmarks"]
best = {}
for r in runs:
    if r.get("run_type") != "iteration":
        continue
    name = r["run_name"]
    ms = r["real_time"] * {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[r["time_unit"]]
    best[name] = min(best.get(name, float("inf")), ms)

filters = {"lanczos3": 5, "triangle": 1}
print(f"{'case':42} {'Korvane ms':>11} {'Pillow ms':>10} {'ratio':>7}")
for line in open(sys.argv[2]):
    name, size, pillow_ms = line.split()
    w, h = size.split("x")
    k = best[f"Resample/filter:{filters[name]}/w:{w}/h:{h}/real_time"]
    label = f"_Resample {name} 4000x3000 -> {size}"
    print(f"{label:42} {k:11.1f} {float(pillow_ms):10.1f} {k / float(pillow_ms):7.2f}")
conv, copy = best["Conv1to24/real_time"], best["Memcpy24/real_time"]
label = "_Conv1to24 10000x10000 / memcpy"
print(f"{label:42} {conv:11.1f} {copy:10.1f} {conv / copy:7.2f}")
PY
