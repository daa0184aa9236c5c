#!/usr/bin/env bash
# Runs one test program (with its arguments) on an X server of its own: a fresh Xvfb on a free
# display, 1600 x 1200 at 24 bits, local connections only. The server is asked to answer before
# the program starts, so that a refused connection is retried here and never as a test; it is
# stopped when the program ends, and the program's exit status is returned.
set -uo pipefail

work=$(mktemp -d "${TMPDIR:-/tmp}/stendo-x.XXXXXX") || exit 1
server=
stop() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null
        wait "$server" 2>/dev/null
    fi
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# The server writes its display number to descriptor 3 once it accepts connections.
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -noreset \
    3>"$work/display" 2>"$work/server.log" &
server=$!

display=
for _ in $(seq 1 600); do
    display=$(head -n 1 "$work/display" 2>/dev/null)
    [ -n "$display" ] && break
    if ! kill -0 "$server" 2>/dev/null; then
        echo "the X server did not start:" >&2
        cat "$work/server.log" >&2
        exit 1
    fi
    sleep 0.05
done
if [ -z "$display" ]; then
    echo "the X server did not start within 30 s" >&2
    exit 1
fi

export DISPLAY=":$display"
unset QT_QPA_PLATFORM
# Only the connection is retried: the program itself runs once.
answered=
for _ in $(seq 1 100); do
    if xdpyinfo >/dev/null 2>&1; then
        answered=1
        break
    fi
    sleep 0.1
done
if [ -z "$answered" ]; then
    echo "the X server on $DISPLAY does not answer" >&2
    exit 1
fi

"$@"
status=$?
exit "$status"
