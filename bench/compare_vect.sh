#!/usr/bin/env bash
# The vector layer in one run: painting 10,000 mixed objects against a bare
# QPainter drawing the same primitives, FindNearObj per call, KVV save and
# load of the 10,000 objects, and the import of a 100,000-entity DXF file
# against ezdxf.readfile of the same file.
#
#   bench/compare_vect.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build/release}
bench="$build/bench/bench_vect"
[[ -x "$bench" ]] || { echo "no $bench: build with -DKORVANE_BENCH=ON" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Lines, circles and arcs in equal parts inside a 10000 x 6000 extent.
python3 - "$work/big.dxf" <<'PY'
import random, sys
random.seed(5)
out = ["0\nSECTION\n2\nHEADER\n9\n$EXTMIN\n10\n0.0\n20\n0.0\n30\n0.0\n9\n$EXTMAX\n10\n10000.0\n20\n6000.0\n30\n0.0\n0\nENDSEC\n",
       "0\nSECTION\n2\nENTITIES\n"]
for i in range(100000):
    x, y = random.uniform(0, 9900), random.uniform(0, 5900)
    k = i % 3
    if k == 0:
        out.append(f"0\nLINE\n8\n0\n10\n{x:.4f}\n20\n{y:.4f}\n30\n0.0\n11\n{x + random.uniform(1, 99):.4f}\n21\n{y + random.uniform(1, 99):.4f}\n31\n0.0\n")
    elif k == 1:
        out.append(f"0\nCIRCLE\n8\n0\n10\n{x:.4f}\n20\n{y:.4f}\n30\n0.0\n40\n{random.uniform(1, 50):.4f}\n")
    else:
        out.append(f"0\nARC\n8\n0\n10\n{x:.4f}\n20\n{y:.4f}\n30\n0.0\n40\n{random.uniform(1, 50):.4f}\n50\n{random.uniform(0, 360):.4f}\n51\n{random.uniform(0, 360):.4f}\n")
out.append("0\nENDSEC\n0\nEOF\n")
open(sys.argv[1], "w").write("".join(out))
PY
KORVANE_DXF="$work/big.dxf" QT_QPA_PLATFORM=offscreen "$bench" --benchmark_format=json > "$work/vect.json" 2> /dev/null
ezdxf_ms=$(/usr/bin/python3 - "$work/big.dxf" <<'PY' 2>/dev/null || echo ""
import sys, time
import ezdxf
t = time.perf_counter()
ezdxf.readfile(sys.argv[1])
print((time.perf_counter() - t) * 1000)
PY
)
python3 - "$work/vect.json" "$ezdxf_ms" <<'PY'
import json, sys
ms = {}
for r in json.load(open(sys.argv[1]))["benchmarks"]:
    if r.get("run_type", "iteration") != "iteration" or r.get("error_occurred"):
        continue
    ms[r["name"].split("/")[0]] = r["real_time"] * {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[r["time_unit"]]
k, b = ms["BM_VectPaintObjects"], ms["BM_BarePaintObjects"]
print(f"paint 10,000 objects, zoom 100: Korvane {k:.2f} ms, bare QPainter {b:.2f} ms, ratio {k / b:.2f}")
print(f"FindNearObj over 10,000 objects: {ms['BM_FindNearObj'] * 1000:.1f} us per call")
print(f"KVV save of 10,000 objects: {ms['BM_KVVSave']:.2f} ms; load: {ms['BM_KVVLoad']:.2f} ms")
if "BM_DXFImport" in ms:
    line = f"DXF import of 100,000 entities: Korvane {ms['BM_DXFImport']:.1f} ms"
    if sys.argv[2]:
        e = float(sys.argv[2])
        line += f", ezdxf.readfile {e:.1f} ms, ratio {ms['BM_DXFImport'] / e:.3f}"
    else:
        line += " (ezdxf not installed: no ratio)"
    print(line)
PY
