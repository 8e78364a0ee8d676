#!/usr/bin/env bash
# Runs every benchmark program of the build folder, then every peer-comparison
# script (bench/compare_*.sh), each given the build folder. Output also goes to
# build/bench-results/.
set -uo pipefail
build=${1:-build/release}
here=$(cd "$(dirname "$0")" && pwd)
out="$build/bench-results"
mkdir -p "$out"
KORVANE_DEPS=bench bash "$here/../scripts/install-deps.sh"
# The comparisons with single-thread peers run Korvane on one thread too;
# compare_threads.sh sets its own counts.
export KORVANE_THREADS=${KORVANE_THREADS:-1}
status=0
for script in "$here"/compare_*.sh; do
  [[ -e "$script" ]] || continue
  name=$(basename "$script" .sh)
  echo "== $name"
  bash "$script" "$build" 2>&1 | tee "$out/$name.txt" || status=1
done
exit $status
