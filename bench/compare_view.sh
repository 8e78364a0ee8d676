#!/usr/bin/env bash
# Times the view's painting of a 12000x9000 image into a 1600x1000 client
# against a bare QPainter::drawImage of the same source rectangle, in the same
# run, and prints Korvane/bare per zoom (the filtered paint is reported
# against the unfiltered bare draw at the same zoom).
#
#   bench/compare_view.sh [BUILD_DIR] [REPEATS]
set -euo pipefail
build=${1:-build/release}
repeats=${2:-7}
bench="$build/bench/bench_view"
[[ -x "$bench" ]] || { echo "no $bench: build with -DKORVANE_BENCH=ON" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
QT_QPA_PLATFORM=offscreen "$bench" --benchmark_repetitions="$repeats" --benchmark_format=json \
  > "$work/view.json" 2> /dev/null
python3 - "$work/view.json" <<'PY'
import json, sys
best = {}
for r in json.load(open(sys.argv[1]))["benchmarks"]:
    if r.get("run_type") != "iteration":
        continue
    ms = r["real_time"] * {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[r["time_unit"]]
    best[r["run_name"]] = min(best.get(r["run_name"], float("inf")), ms)
print(f"{'case (best of runs)':44} {'Korvane ms':>10} {'bare ms':>8} {'ratio':>6}")
for zoom, filt, label in [(8, 0, "zoom 8"), (100, 0, "zoom 100"), (400, 0, "zoom 400"),
                          (400, 1, "zoom 400, rfTriangle")]:
    k = best[f"BM_ViewPaint/{zoom}/{filt}/real_time"]
    b = best[f"BM_BareDrawImage/{zoom}/real_time"]
    print(f"{'paint ' + label:44} {k:10.2f} {b:8.2f} {k / b:6.2f}")
PY
