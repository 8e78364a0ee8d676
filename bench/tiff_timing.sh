# Shared set-up of the TIFF peer comparisons (sourced by compare_tiff.sh and
# compare_tiff_read.sh): the benchmark program, a scratch folder, and CPU
# time of a command -- the least of RUNS runs by perf's task clock, or by
# user + system time when perf cannot count here (10 ms steps).
set -uo pipefail
build=${1:-build/release}
bin="$build/bench/bench_tiff"
[[ -x "$bin" ]] || { echo "missing $bin (build with -DKORVANE_BENCH=ON)"; exit 1; }
command -v tiffcp > /dev/null || { echo "tiffcp (libtiff-tools) is not installed: skipped"; exit 0; }
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is not installed: skipped"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=${RUNS:-10}

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
  # The least of the runs: a run can only be slowed by the rest of the
  # machine, and a fax page is a few milliseconds, so one disturbed run
  # moves an average by a tenth.
  best_cpu() {
    local best="" d
    for ((i = 0; i < runs; i++)); do
      perf stat -x, -e task-clock -o "$work/cpu.txt" "$@" > /dev/null 2>&1 || { echo "fail"; return; }
      d=$(awk -F, '/task-clock/ { print $1 / 1000 }' "$work/cpu.txt")
      if [[ -z "$best" ]] || awk -v a="$d" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$d; fi
    done
    echo "$best"
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
