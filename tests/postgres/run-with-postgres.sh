#!/usr/bin/env bash
# Runs PROGRAM ARGS... beside a throw-away PostgreSQL cluster: initdb into a fresh temporary
# directory, the server on a free port of 127.0.0.1 (its socket in that directory too), one
# database and one user with a password. The program finds it through
#   VEXA_TEST_PG_URI=postgresql://USER@127.0.0.1:PORT/DB   and   PGPASSFILE (the password, 0600).
# Everything is stopped and removed on the way out. As root the server runs as nobody, since
# PostgreSQL refuses to run as root. Exits with the program's status. The server does not sync
# (fsync=off) unless VEXA_TEST_PG_FSYNC=on, as a benchmark wants it.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 PROGRAM [ARGS...]" >&2
    exit 64
fi
PG_BIN=${PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
if [[ -z "$PG_BIN" || ! -x "$PG_BIN/initdb" ]]; then
    echo "PostgreSQL server binaries not found (install postgresql)" >&2
    exit 1
fi

WORLD=$(mktemp -d /tmp/vexa-pg-XXXXXX)
DATA="$WORLD/data"
AS_SERVER=()
cleanup() {
    if [[ -f "$DATA/postmaster.pid" ]]; then
        "${AS_SERVER[@]}" "$PG_BIN/pg_ctl" -D "$DATA" -m immediate -t 20 -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$WORLD"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [[ $(id -u) == 0 ]]; then
    AS_SERVER=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups --)
    mkdir "$WORLD/server"
    chown nobody: "$WORLD/server"
    chmod 711 "$WORLD"
    DATA="$WORLD/server/data"
fi
SOCKETS=$(dirname "$DATA")
PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
ADMIN=vexa_admin
USER_NAME=vexa_test
DATABASE=vexa_archive
PASSWORD=$(head -c 18 /dev/urandom | base64 | tr -d '/+=')

# The administrator connects over the socket only, which only the server's own user may enter;
# everyone else over TCP with the password.
"${AS_SERVER[@]}" "$PG_BIN/initdb" -D "$DATA" -U "$ADMIN" -E UTF8 --locale=C.UTF-8 \
    --auth-local=trust --auth-host=scram-sha-256 >"$WORLD/initdb.log" 2>&1 ||
    { cat "$WORLD/initdb.log" >&2; exit 1; }
"${AS_SERVER[@]}" "$PG_BIN/pg_ctl" -D "$DATA" -l "$SOCKETS/server.log" -t 30 -w \
    -o "-c listen_addresses=127.0.0.1 -c port=$PORT -c unix_socket_directories=$SOCKETS -c fsync=${VEXA_TEST_PG_FSYNC:-off}" \
    start >/dev/null || { cat "$SOCKETS/server.log" >&2; exit 1; }

admin_sql() {
    "${AS_SERVER[@]}" "$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$SOCKETS" -p "$PORT" -U "$ADMIN" -d postgres -c "$1"
}
admin_sql "CREATE ROLE $USER_NAME LOGIN PASSWORD '$PASSWORD'"
admin_sql "CREATE DATABASE $DATABASE OWNER $USER_NAME"

export PGPASSFILE="$WORLD/pgpass"
(umask 077 && echo "127.0.0.1:$PORT:$DATABASE:$USER_NAME:$PASSWORD" >"$PGPASSFILE")
export VEXA_TEST_PG_URI="postgresql://$USER_NAME@127.0.0.1:$PORT/$DATABASE"
# For fault tests: "$VEXA_TEST_PG_SERVER" stop|start stops the server at once or starts it again.
cat >"$WORLD/server-control" <<SH
#!/bin/sh
case "\$1" in
    stop) exec ${AS_SERVER[*]} "$PG_BIN/pg_ctl" -D "$DATA" -m immediate -t 20 -w stop ;;
    start) exec ${AS_SERVER[*]} "$PG_BIN/pg_ctl" -D "$DATA" -l "$SOCKETS/server.log" -t 30 -w \
        -o "-c listen_addresses=127.0.0.1 -c port=$PORT -c unix_socket_directories=$SOCKETS -c fsync=${VEXA_TEST_PG_FSYNC:-off}" start ;;
esac
SH
chmod 755 "$WORLD/server-control"
export VEXA_TEST_PG_SERVER="$WORLD/server-control"

status=0
"$@" || status=$?
exit "$status"
