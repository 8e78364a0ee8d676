#!/usr/bin/env bash
# Builds the API reference into OUTDIR/html (default build/docs) with Doxygen
# and fails when Doxygen warns: every documented header must stay complete.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/docs}"
mkdir -p "$out"
version=$(sed -n 's/^project(Korvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
log="$out/warnings.log"
{
  cat docs/Doxyfile
  echo "OUTPUT_DIRECTORY = $out"
  echo "PROJECT_NUMBER = $version"
  echo "WARN_LOGFILE = $log"
} | doxygen - >/dev/null
if [[ -s "$log" ]]; then
  sort -u "$log"
  echo "docs: $(sort -u "$log" | wc -l) Doxygen warnings (listed above)" >&2
  exit 1
fi
echo "docs: $out/html/index.html"
