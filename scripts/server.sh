#!/usr/bin/env bash
# Installs what is missing, builds stendograph-server when there is none, starts a private
# PostgreSQL cluster in server-data/ of this checkout and the server on 127.0.0.1, and says the
# address to open. The server's log (server-data/server.log) is kept across starts.
#   scripts/server.sh          start (or restart the server on the running cluster)
#   scripts/server.sh rebuild  build the server anew, then start as above
#   scripts/server.sh stop     stop the server and the cluster
# PostgreSQL and the server refuse root: started as root, both run as the user nobody (or
# STENDO_SERVER_USER), which must be able to reach this checkout. STENDO_PORT sets the port
# (default 8080).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
data="$top/server-data"
port="${STENDO_PORT:-8080}"
pg_bin=/usr/lib/postgresql/15/bin

as_user=()
if [ "$(id -u)" -eq 0 ]; then
    user="${STENDO_SERVER_USER:-nobody}"
    as_user=(setpriv --reuid="$user" --regid="$(id -gn "$user")" --clear-groups --)
fi

stop_server() {
    if [ -f "$data/server.pid" ] && kill -0 "$(cat "$data/server.pid")" 2>/dev/null; then
        kill "$(cat "$data/server.pid")"
        while kill -0 "$(cat "$data/server.pid")" 2>/dev/null; do sleep 0.2; done
    fi
    rm -f "$data/server.pid"
}

if [ "${1:-}" = "stop" ]; then
    stop_server
    if [ -f "$data/cluster/PG_VERSION" ]; then
        "${as_user[@]}" "$pg_bin/pg_ctl" -D "$data/cluster" -w stop -m fast || true
    fi
    exit 0
fi

if [ -n "${1:-}" ] && [ "$1" != "rebuild" ]; then
    echo "server.sh: \"$1\" is none of rebuild, stop" >&2
    exit 2
fi
"$top/scripts/deps.sh"
if [ "${1:-}" = "rebuild" ] || [ ! -x "$top/build/bin/stendograph-server" ]; then
    cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$top/build" --target stendograph-server
fi

mkdir -p "$data"
if [ ${#as_user[@]} -gt 0 ]; then
    chown "$user:$(id -gn "$user")" "$data"
    if ! "${as_user[@]}" test -x "$top/build/bin/stendograph-server"; then
        echo "server.sh: the user $user cannot reach $top; put the checkout where it can," \
             "or name another user in STENDO_SERVER_USER" >&2
        exit 1
    fi
fi
chmod 700 "$data"

# The cluster listens on a socket in its own folder only, and trusts whoever can reach it:
# nobody but its user can.
if [ ! -f "$data/cluster/PG_VERSION" ]; then
    "${as_user[@]}" "$pg_bin/initdb" -D "$data/cluster" -A trust -U stendograph -E UTF8 \
        --locale=C.UTF-8 >"$data/initdb.log"
fi
if ! "${as_user[@]}" "$pg_bin/pg_ctl" -D "$data/cluster" status >/dev/null 2>&1; then
    "${as_user[@]}" "$pg_bin/pg_ctl" -D "$data/cluster" -l "$data/postgres.log" -w \
        -o "-k $data -c listen_addresses=''" start >/dev/null
fi
"${as_user[@]}" "$pg_bin/psql" -h "$data" -U stendograph -d postgres -X -q -t \
    -c "SELECT 1 FROM pg_database WHERE datname = 'stendograph'" | grep -q 1 ||
    "${as_user[@]}" "$pg_bin/createdb" -h "$data" -U stendograph stendograph

stop_server
log="$data/server.log"
echo "--- $(date -u +%Y-%m-%dT%H:%M:%SZ) server.sh starts the server" >>"$log"
start=$(wc -l <"$log")
"${as_user[@]}" env HOME="$data" "$top/build/bin/stendograph-server" \
    --listen "127.0.0.1:$port" --database "host=$data user=stendograph dbname=stendograph" \
    >>"$log" 2>&1 &
echo $! >"$data/server.pid"
for _ in $(seq 1 100); do
    if tail -n "+$((start + 1))" "$log" | grep -q '^Listening on '; then
        echo "Стендограф results server: open http://127.0.0.1:$port/"
        echo "(log: $data/server.log; stop with scripts/server.sh stop)"
        exit 0
    fi
    if ! kill -0 "$(cat "$data/server.pid")" 2>/dev/null; then
        tail -n "+$((start + 1))" "$log" >&2
        exit 1
    fi
    sleep 0.2
done
echo "server.sh: the server did not start; see $data/server.log" >&2
exit 1
