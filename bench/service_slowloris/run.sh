#!/usr/bin/env bash
# usage: bench/service_slowloris/run.sh BUILD_DIR [--exe FILE] [--connections N] [--rate R] [--port P]
# The built-in HTTPS service (no nginx) under a slowloris attack: starts tallyforge-results
# with TLS and SQLite on loopback, runs slowhttptest against it and the deployment prober
# (/healthz and a submission every 200 ms, from other source addresses) alongside.
# Prints figures only. --exe measures another build of the service (an older one, say) with
# the same prober. Defaults: 300 connections, 100 a second, port 19230.
set -uo pipefail
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
usage() { sed -n '2,7p' "$self" | sed 's/^# //'; }
for arg in "$@"; do
  case "$arg" in -h|--help) usage; exit 0 ;; esac
done
case "${1:-}" in
  ''|-*) usage >&2; exit 2 ;;
esac
cd "$(dirname "$0")/../.."
build=$1; shift
exe=$build/server/tallyforge-results connections=300 rate=100 port=19230
while [ $# -gt 0 ]; do
  case "$1" in
    --exe|--connections|--rate|--port) [ $# -ge 2 ] || { usage >&2; exit 2; } ;;&
    --exe) exe=$2; shift 2 ;;
    --connections) connections=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --port) port=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
done
work=$(mktemp -d /tmp/tallyforge-slowloris.XXXXXX)
service=""
trap '[ -n "$service" ] && kill "$service" 2>/dev/null; wait; rm -rf "$work"' EXIT
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -sha256 -days 2 -subj "/CN=localhost" \
  -addext "subjectAltName=IP:127.0.0.1" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
"$exe" --listen "127.0.0.1:$port" --tls-cert "$work/cert.pem" --tls-key "$work/key.pem" \
  --database "sqlite:$work/results.db" --salt assets/digest_salt.bin >"$work/service.log" 2>&1 &
service=$!
for _ in $(seq 50); do curl -sf --cacert "$work/cert.pem" "https://127.0.0.1:$port/healthz" >/dev/null && break; sleep 0.1; done
echo "slowhttptest -H -c $connections -i 8 -r $rate -l 20 against $exe"
slowhttptest -H -c "$connections" -i 8 -r "$rate" -l 20 -p 3 -x 24 -u "https://127.0.0.1:$port/benchmarks" \
  >"$work/attack.log" 2>&1 &
attacker=$!
sleep 1
"$build/tests/deploy/deploy_client" probe --url "https://127.0.0.1:$port" --ca "$work/cert.pem" --seconds 18 \
  --interval-ms 200 --p99-ms 100 --variant $((RANDOM * 1000 + 6000000))
wait "$attacker"
sed 's/\x1b\[[0-9;]*m//g' "$work/attack.log" | grep -E "^\s*(closed|pending|connected|service available):" | tail -4 |
  tr -s ' \t' ' ' | paste -sd ';' | sed 's/^/  attacker at its end:/'
