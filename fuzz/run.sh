#!/usr/bin/env bash
# Runs every libFuzzer target of the build folder for the given seconds,
# starting from (and adding to) its corpus in fuzz/corpus/<name>/.
set -uo pipefail
build=${1:-build/fuzz}
secs=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
status=0
# Third-party leaks only (fuzz/lsan.supp); an LSAN_OPTIONS already set is kept.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan.supp:print_suppressions=0"
for bin in "$build"/fuzz/*_fuzzer; do
  [[ -x "$bin" ]] || continue
  name=$(basename "$bin")
  mkdir -p "$here/corpus/$name" "$build/crashes/$name"
  echo "== $name for ${secs}s"
  "$bin" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="$build/crashes/$name/" "$here/corpus/$name" || status=1
done
exit $status
