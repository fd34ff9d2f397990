#!/usr/bin/env bash
# usage: bench/service_load/run.sh BUILD_DIR [service_load options]
# Runs the service load benchmark against SQLite and PostgreSQL, unpaced (as fast as the
# service answers) and paced at 2,000 submissions a second; service_load --help lists its options.
set -euo pipefail
usage() { sed -n '2,4p' "$0" | sed 's/^# //'; }
for arg in "$@"; do
  case "$arg" in -h|--help) usage; exit 0 ;; esac
done
case "${1:-}" in
  ''|-*) usage >&2; exit 2 ;;
esac
build=$1
shift
exe="$build/bench/service_load/service_load"
[ -x "$exe" ] || { echo "run.sh: $exe not built (ninja -C $build service_load)"; exit 2; }
for db in sqlite postgresql; do
  echo "=== $db, unpaced ==="
  "$exe" --database "$db" "$@"
  echo "=== $db, paced at 2000/s ==="
  "$exe" --database "$db" --rate 2000 --page-seconds 0 "$@"
done
