#!/usr/bin/env bash
# A throw-away PostgreSQL cluster on a loopback port for the result service's tests and
# benchmarks. PostgreSQL refuses to run as root, so as root the server runs as the
# `postgres` user.
#   pg_ctl.sh start PORT        prints DIR=<cluster dir> and URL=postgresql://... (database tallyforge)
#   pg_ctl.sh createdb PORT NAME
#   pg_ctl.sh amcheck PORT NAME checks every table and index of the database (pg_amcheck)
#   pg_ctl.sh restart DIR [S]   stops the server (fast: sessions are cut off), waits S seconds
#                               (default 0) and starts it again on the same port
#   pg_ctl.sh stop DIR          stops the cluster and removes DIR
# Exit status 77: PostgreSQL's server programs are not installed.
set -euo pipefail

bin=${PG_BIN:-}
if [ -z "$bin" ]; then
  for candidate in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    [ -x "$candidate/initdb" ] && { bin=$candidate; break; }
  done
fi
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "PostgreSQL server programs not found (Debian package postgresql)"
  exit 77
fi

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    id postgres >/dev/null 2>&1 || { echo "running as root but there is no postgres user"; exit 77; }
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

case "${1:-}" in
  start)
    port=${2:?port}
    dir=$(mktemp -d /tmp/tallyforge-pg.XXXXXX)
    chmod 755 "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    if ! as_owner "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C \
         >"$dir/initdb.log" 2>&1; then
      cat "$dir/initdb.log"; rm -rf "$dir"; exit 1
    fi
    # In the configuration file rather than on the command line, so that restart needs no options.
    printf "listen_addresses = '127.0.0.1'\nport = %s\nunix_socket_directories = '%s'\nmax_connections = 200\n" \
      "$port" "$dir" >>"$dir/data/postgresql.conf"
    if ! as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null; then
      cat "$dir/server.log"; rm -rf "$dir"; exit 1
    fi
    as_owner "$bin/createdb" -h 127.0.0.1 -p "$port" -U postgres tallyforge
    echo "DIR=$dir"
    echo "URL=postgresql://postgres@127.0.0.1:$port/tallyforge"
    ;;
  createdb)
    as_owner "$bin/createdb" -h 127.0.0.1 -p "${2:?port}" -U postgres "${3:?name}"
    ;;
  amcheck)
    as_owner "$bin/pg_amcheck" --install-missing --heapallindexed -h 127.0.0.1 -p "${2:?port}" \
      -U postgres "${3:?name}"
    ;;
  restart)
    dir=${2:?dir}
    case "$dir" in /tmp/tallyforge-pg.*) ;; *) echo "not a cluster made by this script: $dir"; exit 2 ;; esac
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
    sleep "${3:-0}"
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null
    ;;
  stop)
    dir=${2:?dir}
    case "$dir" in /tmp/tallyforge-pg.*) ;; *) echo "not a cluster made by this script: $dir"; exit 2 ;; esac
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null || true
    rm -rf "$dir"
    ;;
  *)
    sed -n '2,12p' "$0"
    exit 2
    ;;
esac
