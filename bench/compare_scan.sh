#!/usr/bin/env bash
# Times a 300 DPI colour scan of SANE's test backend over its largest area
# (200 x 200 mm, the colour pattern) through `korvane scan` to a BMP file,
# against `scanimage --format=pnm` to a file: same device, settings and
# backend, so the ratio is what the TWAIN layer, the built-in source manager
# and the BMP writer add over SANE's own front end. Times are the programs'
# CPU time (user + system, children included), best of RUNS (default 3).
# Ratio = korvane / scanimage.
set -uo pipefail
build=${1:-build/release}
runs=${RUNS:-3}
bin="$build/apps/korvane/korvane"
[[ -x "$bin" ]] || { echo "missing $bin (build with -DKORVANE_APPS=ON)"; exit 1; }
command -v scanimage > /dev/null || { echo "scanimage (sane-utils) is not installed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A private SANE configuration with only the test backend and its colour
# pattern, geometry unquantised.
echo test > "$work/dll.conf"
cat > "$work/test.conf" << 'CONF'
number_of_devices 1
mode Color
depth 8
resolution_min 1.0
resolution_max 1200.0
resolution_quant 1.0
resolution 300.0
test-picture "Color pattern"
geometry_min 0.0
geometry_max 200.0
geometry_quant 0.0
CONF
export SANE_CONFIG_DIR="$work" KORVANE_TWAIN_DSM=sane QT_QPA_PLATFORM=offscreen

read -r k s < <(/usr/bin/python3 - "$bin" "$work" "$runs" << 'PY'
import resource, subprocess, sys
bin, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
# 200 mm = 7.874016 inches; the last digit keeps the area inside the maximum.
korvane = [bin, "scan", work + "/k.bmp", "--source", "test:0", "--dpi", "300", "--mode", "color",
           "--area", "0,0,7.87401,7.87401", "--quiet"]
sane = ["scanimage", "-d", "test:0", "--mode", "Color", "--depth", "8", "--resolution", "300",
        "-l", "0", "-t", "0", "-x", "200", "-y", "200", "--format=pnm", "-o", work + "/s.pnm"]
def cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime
def best(cmd):
    # A run that hangs (scanimage over the test backend now and then waits
    # forever at its end) is killed after a minute and not counted.
    b = 1e30
    for _ in range(runs):
        t = cpu()
        try:
            subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, timeout=60)
        except subprocess.TimeoutExpired:
            print("run timed out:", cmd[0], file=sys.stderr)
            continue
        b = min(b, cpu() - t)
    return b
print(best(korvane), best(sane))
PY
)
[[ -n "${k:-}" ]] || { echo "a run failed"; exit 1; }
size() { stat -c %s "$1"; }
echo "== 300 DPI colour scan, 200 x 200 mm, SANE test backend"
awk -v k="$k" -v s="$s" 'BEGIN {
  printf "korvane scan -> BMP:        %.1f ms\n", k * 1000
  printf "scanimage --format=pnm:     %.1f ms   ratio %.3f\n", s * 1000, k / s }'
echo "files: $(size "$work/k.bmp") bytes BMP, $(size "$work/s.pnm") bytes PNM"
