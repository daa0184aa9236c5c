#!/usr/bin/env bash
# Runs every input of the committed corpus once through the fuzz targets of a build folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: replay.sh <build dir>}
"$build/bin/fuzz_results_reader" -runs=0 -malloc_limit_mb=64 -rss_limit_mb=512 "$top/fuzz/corpus"
