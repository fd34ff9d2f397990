#!/usr/bin/env bash
# Runs the service load benchmark against SQLite and PostgreSQL, unpaced (as fast as the
# service answers) and paced at 2,000 submissions a second.
#   bench/service_load/run.sh BUILD_DIR [extra service_load options]
set -euo pipefail
build=${1:?build directory}
shift
exe="$build/bench/service_load/service_load"
[ -x "$exe" ] || { echo "run.sh: $exe not built (ninja -C $build service_load)"; exit 2; }
for db in sqlite postgresql; do
  echo "=== $db, unpaced ==="
  "$exe" --database "$db" "$@"
  echo "=== $db, paced at 2000/s ==="
  "$exe" --database "$db" --rate 2000 --page-seconds 0 "$@"
done
