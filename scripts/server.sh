#!/usr/bin/env bash
# Installs what is missing, builds stendograph-server when there is none, starts a private
# PostgreSQL cluster in server-data/ of this checkout and the server on 127.0.0.1, and says the
# address to open. The server's log (server-data/server.log) is kept across starts.
#   scripts/server.sh            start (or restart the server on the running cluster)
#   scripts/server.sh rebuild    build the server anew, then start as above
#   scripts/server.sh --replica  also a hot standby of the cluster (server-data/standby,
#                                streaming from it) and a second server, on the next port, that
#                                reads from the standby and sends uploads to the primary
#                                (log: server-data/server-replica.log); with rebuild too
#   scripts/server.sh stop       stop the servers and the clusters
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

# stop_server NAME: stops the server whose process id is in server-data/NAME.pid.
stop_server() {
    local pid_file="$data/$1.pid"
    if [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null; then
        kill "$(cat "$pid_file")"
        while kill -0 "$(cat "$pid_file")" 2>/dev/null; do sleep 0.2; done
    fi
    rm -f "$pid_file"
}

stop_cluster() {
    if [ -f "$data/$1/PG_VERSION" ]; then
        "${as_user[@]}" "$pg_bin/pg_ctl" -D "$data/$1" -w stop -m fast || true
    fi
}

# start_cluster FOLDER SOCKETS LOG: the cluster of server-data/FOLDER, listening on a socket in
# the folder SOCKETS only, logging to server-data/LOG.
start_cluster() {
    if ! "${as_user[@]}" "$pg_bin/pg_ctl" -D "$data/$1" status >/dev/null 2>&1; then
        "${as_user[@]}" "$pg_bin/pg_ctl" -D "$data/$1" -l "$data/$3" -w \
            -o "-k $2 -c listen_addresses=''" start >/dev/null
    fi
}

rebuild=no
replica=no
for argument in "$@"; do
    case "$argument" in
    stop)
        stop_server server-replica
        stop_server server
        stop_cluster standby
        stop_cluster cluster
        exit 0
        ;;
    rebuild) rebuild=yes ;;
    --replica) replica=yes ;;
    *)
        echo "server.sh: \"$argument\" is none of rebuild, --replica, stop" >&2
        exit 2
        ;;
    esac
done
"$top/scripts/deps.sh"
if [ "$rebuild" = yes ] || [ ! -x "$top/build/bin/stendograph-server" ]; then
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
start_cluster cluster "$data" postgres.log
"${as_user[@]}" "$pg_bin/psql" -h "$data" -U stendograph -d postgres -X -q -t \
    -c "SELECT 1 FROM pg_database WHERE datname = 'stendograph'" | grep -q 1 ||
    "${as_user[@]}" "$pg_bin/createdb" -h "$data" -U stendograph stendograph

primary="host=$data user=stendograph dbname=stendograph"

# A hot standby: a base backup of the cluster that streams what the cluster writes from then
# on (-R writes the connection to the primary into the backup). It listens in its own folder.
if [ "$replica" = yes ]; then
    if [ ! -f "$data/standby/PG_VERSION" ]; then
        "${as_user[@]}" "$pg_bin/pg_basebackup" -h "$data" -U stendograph -D "$data/standby" \
            -R -X stream -c fast
    fi
    start_cluster standby "$data/standby" standby-postgres.log
fi

# start_server NAME PORT ARGUMENTS...: the server logging to server-data/NAME.log.
start_server() {
    local name=$1 port=$2 log="$data/$1.log" start
    shift 2
    stop_server "$name"
    echo "--- $(date -u +%Y-%m-%dT%H:%M:%SZ) server.sh starts the server" >>"$log"
    start=$(wc -l <"$log")
    "${as_user[@]}" env HOME="$data" "$top/build/bin/stendograph-server" \
        --listen "127.0.0.1:$port" "$@" >>"$log" 2>&1 &
    echo $! >"$data/$name.pid"
    for _ in $(seq 1 100); do
        if tail -n "+$((start + 1))" "$log" | grep -q '^Listening on '; then
            echo "Стендограф results server: open http://127.0.0.1:$port/ (log: $log)"
            return 0
        fi
        if ! kill -0 "$(cat "$data/$name.pid")" 2>/dev/null; then
            tail -n "+$((start + 1))" "$log" >&2
            exit 1
        fi
        sleep 0.2
    done
    echo "server.sh: the server did not start; see $log" >&2
    exit 1
}

start_server server "$port" --database "$primary"
if [ "$replica" = yes ]; then
    start_server server-replica "$((port + 1))" --database "$primary" \
        --read-database "host=$data/standby user=stendograph dbname=stendograph"
fi
echo "(stop with scripts/server.sh stop)"
