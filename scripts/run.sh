#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it. Without a screen (no DISPLAY
# and no WAYLAND_DISPLAY) it starts inside a virtual X server.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"

cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" --target stendograph d3d8

# The program keeps Results.bin (and finds Help.html) in its working directory.
mkdir -p "$top/run"
cd "$top/run"
cp -u "$top/resources/Help.html" . 2>/dev/null || true
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1600x1200x24" "$top/build/bin/stendograph"
fi
exec "$top/build/bin/stendograph"
