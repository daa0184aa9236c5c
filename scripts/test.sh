#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test once: the programs that draw each on a virtual X server of their own with Mesa
# (tests/support/WithXServer.sh), the others on Qt's offscreen platform; then replays the fuzz
# corpus, and builds the Debian packages, installs them into this machine, uses them and purges
# them again (as root, through sudo otherwise).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"

jobs=$(nproc)
cmake -S "$top" -B "$top/build-test" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DSTENDO_TESTS=ON -DSTENDO_SANITIZE=ON >/dev/null
cmake --build "$top/build-test" -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$top/build-test" --output-on-failure -j "$jobs"

if [ -d "$top/fuzz" ] && [ -f "$top/fuzz/CMakeLists.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTENDO_FUZZ_ONLY=ON >/dev/null
    cmake --build "$top/build-fuzz" -j "$jobs"
    "$top/fuzz/replay.sh" "$top/build-fuzz"
    FUZZ_BUILD="$top/build-fuzz" "$top/fuzz/run.sh" 30
fi

"$top/scripts/package.sh" >/dev/null
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" "$top/tests/package/InstalledPackages.sh" "$top/build-package" "$top/build-test"
