#!/usr/bin/env bash
# Times a 300 DPI colour scan of SANE's test backend over its largest area
# (200 x 200 mm, the colour pattern) through `korvane scan` to a BMP file,
# against `scanimage --format=pnm` to a file: same device, settings and
# backend, so the ratio is what the TWAIN layer, the built-in source manager
# and the BMP writer add over SANE's own front end. Times are the programs'
# CPU time (user + system, children included), best of RUNS (default 3).
# Ratio = time / scanimage's. Three floor lines time bench/scan_floor.cpp, the
# same scan saved safely by a bare SANE program, built without Qt, on Qt
# Core, and linked with Qt Widgets: the part of korvane's time that is a Qt
# program's start-up and not its scanning.
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

# The floor: the same scan by a bare SANE program that saves as Korvane does
# (bench/scan_floor.cpp), linking nothing else, then starting a Qt Core
# application, then linked with Qt Gui and Widgets too. What separates the
# floors is the start-up of a program on Qt alone.
floors=()
src="$(dirname "$0")/scan_floor.cpp"
qt_core=$(pkg-config --cflags --libs Qt6Core 2> /dev/null)
qt_widgets=$(pkg-config --cflags --libs Qt6Core Qt6Gui Qt6Widgets 2> /dev/null)
if c++ -O2 -std=c++17 -o "$work/floor" "$src" -lsane 2> /dev/null &&
  c++ -O2 -std=c++17 -fPIC -DFLOOR_QT -o "$work/floor_core" "$src" -lsane $qt_core 2> /dev/null &&
  c++ -O2 -std=c++17 -fPIC -DFLOOR_QT -o "$work/floor_widgets" "$src" -Wl,--no-as-needed -lsane $qt_widgets \
    2> /dev/null; then
  floors=("$work/floor" "$work/floor_core" "$work/floor_widgets")
else
  echo "(scan_floor.cpp did not build: libsane-dev and qt6-base-dev give its headers; no floor lines)"
fi

# Every program runs once a round, RUNS rounds, so that a busy spell hits
# them all alike; each keeps its least time.
mapfile -t times < <(/usr/bin/python3 - "$bin" "$work" "$runs" "${floors[@]}" << 'PY'
import resource, subprocess, sys
bin, work, runs, floors = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
# 200 mm = 7.874016 inches; the last digit keeps the area inside the maximum.
cmds = [[bin, "scan", work + "/k.bmp", "--source", "test:0", "--dpi", "300", "--mode", "color",
         "--area", "0,0,7.87401,7.87401", "--quiet"],
        ["scanimage", "-d", "test:0", "--mode", "Color", "--depth", "8", "--resolution", "300",
         "-l", "0", "-t", "0", "-x", "200", "-y", "200", "--format=pnm", "-o", work + "/s.pnm"]]
cmds += [[f, work + "/f.bmp"] for f in floors]
def cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime
best = [1e30] * len(cmds)
for _ in range(runs):
    for i, cmd in enumerate(cmds):
        # A run that hangs (scanimage over the test backend now and then
        # waits forever at its end) is killed after a minute and not counted.
        t = cpu()
        try:
            subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, timeout=60)
        except subprocess.TimeoutExpired:
            print("run timed out:", cmd[0], file=sys.stderr)
            continue
        best[i] = min(best[i], cpu() - t)
for b in best:
    print(b)
PY
)
k=${times[0]:-}
s=${times[1]:-}
[[ -n "$k" && -n "$s" ]] || { echo "a run failed"; exit 1; }
size() { stat -c %s "$1"; }
echo "== 300 DPI colour scan, 200 x 200 mm, SANE test backend"
line() { awk -v n="$1" -v t="$2" -v s="$s" 'BEGIN { printf "%-40s %6.1f ms   ratio %.3f\n", n, t * 1000, t / s }'; }
line "korvane scan -> BMP:" "$k"
line "scanimage --format=pnm:" "$s"
if ((${#times[@]} == 5)); then
  line "floor, libsane only -> BMP:" "${times[2]}"
  line "floor, QCoreApplication -> BMP:" "${times[3]}"
  line "floor, linked with Qt Widgets -> BMP:" "${times[4]}"
fi
echo "files: $(size "$work/k.bmp") bytes BMP, $(size "$work/s.pnm") bytes PNM"
