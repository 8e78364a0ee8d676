# Shared set-up of the TIFF peer comparisons (sourced by compare_tiff.sh and
# compare_tiff_read.sh): the benchmark program, a scratch folder, and CPU
# time of a command -- perf's task clock averaged over RUNS, or the best user
# + system time of RUNS runs when perf cannot count here (10 ms steps).
set -uo pipefail
build=${1:-build/release}
bin="$build/bench/bench_tiff"
[[ -x "$bin" ]] || { echo "missing $bin (build with -DKORVANE_BENCH=ON)"; exit 1; }
command -v tiffcp > /dev/null || { echo "tiffcp (libtiff-tools) is not installed: skipped"; exit 0; }
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is not installed: skipped"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=${RUNS:-5}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
ms() { awk -v a="$1" 'BEGIN { printf "%.1f ms", a * 1000 }'; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { print a - b }'; }
# best_cpu_writing OUT COMMAND...: best_cpu of a command that writes OUT,
# with OUT deleted before each run. Truncating the last run's 36 MB output
# while the kernel still writes it back costs the next run, of either side,
# as much again as the work measured.
best_cpu_writing() {
  local out=$1
  shift
  best_cpu bash -c 'rm -f "$0"; exec "$@"' "$out" "$@"
}
if perf stat -e task-clock true > /dev/null 2>&1; then
  best_cpu() {
    perf stat -x, -e task-clock -r "$runs" -o "$work/cpu.txt" "$@" > /dev/null 2>&1 || { echo "fail"; return; }
    awk -F, '/task-clock/ { print $1 / 1000 }' "$work/cpu.txt"
  }
else
  best_cpu() {
    local best="" d
    for ((i = 0; i < runs; i++)); do
      /usr/bin/time -o "$work/cpu.txt" -f "%U %S" "$@" > /dev/null 2>&1 || { echo "fail"; return; }
      d=$(awk 'END { print $1 + $2 }' "$work/cpu.txt")
      if [[ -z "$best" ]] || awk -v a="$d" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$d; fi
    done
    echo "$best"
  }
fi
