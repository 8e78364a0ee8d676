#!/usr/bin/env bash
# Times the JPEG and PNG codecs against peers on the same 4000x3000 photo-like
# image, in the same run, one thread:
#   JPEG decode / encode   djpeg -dct int / cjpeg -dct int -quality 75
#                          (the same libjpeg-turbo; process start included).
#                          JpegDecode reuses its bitmap, JpegDecodeFresh takes
#                          a new one each run (djpeg keeps no image buffer).
#   PNG decode / encode    Pillow Image.open().load() / save(compress_level=6)
#
#   bench/compare_jpng.sh [BUILD_DIR] [REPEATS]
#
# BUILD_DIR is a release build with KORVANE_BENCH=ON (default build/release).
# Each side keeps its best of REPEATS runs (default 5). Prints Korvane time /
# peer time per case (below 1 means Korvane is faster), in wall-clock time and
# in CPU time (user + system; for the programs, of the child process), the
# latter being the steadier one on a busy machine.
set -euo pipefail
build=${1:-build/release}
repeats=${2:-5}
bench="$build/bench/bench_jpng"
py=/usr/bin/python3  # Debian's python3-pil lives here

[[ -x "$bench" ]] || { echo "no $bench: build with -DKORVANE_BENCH=ON" >&2; exit 1; }
command -v djpeg >/dev/null && command -v cjpeg >/dev/null ||
  { echo "djpeg/cjpeg missing (apt-get install libjpeg-turbo-progs)" >&2; exit 1; }
"$py" -c "import PIL" 2>/dev/null || { echo "Pillow missing for $py (apt-get install python3-pil)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --dump="$work"
"$bench" --benchmark_repetitions="$repeats" --benchmark_min_time=0.3 --benchmark_format=json \
  > "$work/korvane.json" 2> /dev/null

"$py" - "$work" "$repeats" <<'PY'
import io, json, os, subprocess, sys, time
from PIL import Image

work, repeats = sys.argv[1], int(sys.argv[2])

def best(fn):
    wall = cpu = float("inf")
    for _ in range(repeats):
        c0, ch0, w0 = time.process_time(), os.times(), time.perf_counter()
        fn()
        w1, ch1, c1 = time.perf_counter(), os.times(), time.process_time()
        children = (ch1.children_user - ch0.children_user) + (ch1.children_system - ch0.children_system)
        wall = min(wall, w1 - w0)
        cpu = min(cpu, (c1 - c0) + children)
    return wall * 1e3, cpu * 1e3

def run(*cmd):
    return lambda: subprocess.run(cmd, check=True)

png = open(f"{work}/photo.png", "rb").read()
img = Image.open(f"{work}/photo.ppm")
img.load()
peer = {
    "JpegDecode": best(run("djpeg", "-dct", "int", "-outfile", "/dev/null", f"{work}/photo.jpg")),
    "JpegEncode": best(run("cjpeg", "-dct", "int", "-quality", "75", "-outfile", "/dev/null", f"{work}/photo.ppm")),
    "PngDecode": best(lambda: Image.open(io.BytesIO(png)).load()),
    "PngEncode": best(lambda: img.save(io.BytesIO(), "PNG", compress_level=6)),
}
ours = {}
for r in json.load(open(f"{work}/korvane.json"))["benchmarks"]:
    if r.get("run_type") != "iteration":
        continue
    name = r["run_name"].split("/")[0].removeprefix("BM_")
    k = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[r["time_unit"]]
    w, c = ours.get(name, (float("inf"), float("inf")))
    ours[name] = (min(w, r["real_time"] * k), min(c, r["cpu_time"] * k))
peer["JpegDecodeFresh"] = peer["JpegDecode"]
peers = {"JpegDecode": "djpeg -dct int", "JpegDecodeFresh": "djpeg -dct int", "JpegEncode": "cjpeg -dct int", "PngDecode": "Pillow", "PngEncode": "Pillow"}
print(f"4000x3000, best of {repeats}; ms wall / ms CPU")
print(f"{'case':15} {'Korvane':>15} {'peer':>15} {'peer':>15} {'ratio wall':>10} {'ratio CPU':>9}")
for k in peer:
    (ow, oc), (pw, pc) = ours[k], peer[k]
    print(f"{k:15} {ow:7.1f} /{oc:7.1f} {peers[k]:>15} {pw:7.1f} /{pc:7.1f} {ow / pw:10.2f} {oc / pc:9.2f}")
PY
