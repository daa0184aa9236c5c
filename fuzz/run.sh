#!/usr/bin/env bash
# Fuzzes the whole intake of a results file for the given number of seconds (default 600),
# starting from the committed seed corpus. New inputs go to <build>/corpus, crashes to
# <build>/artifacts (build folder build-fuzz, or $FUZZ_BUILD). One allocation above 64 MiB, or
# 512 MiB in all, is a fault: no input may make the reader hold what it merely claims.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
build=${FUZZ_BUILD:-"$top/build-fuzz"}
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSTENDO_FUZZ_ONLY=ON >/dev/null
cmake --build "$build" --target fuzz_results_reader
mkdir -p "$build/corpus" "$build/artifacts"
"$build/bin/fuzz_results_reader" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -malloc_limit_mb=64 -rss_limit_mb=512 \
    -artifact_prefix="$build/artifacts/" -print_final_stats=1 \
    "$build/corpus" "$top/fuzz/corpus"
