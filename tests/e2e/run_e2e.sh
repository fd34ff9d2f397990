#!/usr/bin/env bash
# End-to-end runs of the real client against the real result service on this machine, in
# the X display the tests run in. Usage:
#   run_e2e.sh full|quit|service-down CLIENT SERVICE SALT PORT SHOTS_DIR REPO_ROOT
# full: a whole run is stored and its page address handed to the browser, exit code 0.
# quit: "Quit" during the CPU test ends the program within a second with code 0, nothing stored.
# service-down: the service is gone when the run ends: the generic error is shown, code 1.
set -euo pipefail
scenario=$1 client=$2 service=$3 salt=$4 port=$5 shots=$6 repo=$7
: "${DISPLAY:?needs an X display (run under xvfb-run)}"

work=$(mktemp -d /tmp/tallyforge-e2e.XXXXXX)
service_pid="" client_pid=""
cleanup() {
  [ -n "$client_pid" ] && kill -9 "$client_pid" 2>/dev/null || true
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
shot() { import -window root "$shots/e2e-$scenario-$1.png" 2>/dev/null || true; }

# The client raises its own priority and runs 64 busy threads during the CPU test. On a
# desktop the display server and input keep the upper hand; give Xvfb and this script
# (and so xdotool and import) that standing here too, where we are allowed to.
if [ "$(id -u)" = 0 ]; then
  renice -n -15 -p $$ >/dev/null 2>&1 || true
  for pid in $(pgrep -x Xvfb); do renice -n -15 -p "$pid" >/dev/null 2>&1 || true; done
fi

# The client trusts the local authority it was built with; the service gets a certificate from it.
ca_dir=$(bash "$repo/scripts/local-ca")
mkdir -p "$shots" "$work/bin"

# Stand-ins for the browser and the error dialog record what the program hands them.
cat > "$work/bin/xdg-open" <<STUB
#!/bin/sh
printf '%s\n' "\$1" >> "$work/opened"
STUB
cat > "$work/bin/zenity" <<STUB
#!/bin/sh
import -window root "$shots/e2e-$scenario-error-box.png" 2>/dev/null
for a in "\$@"; do printf '%s\n' "\$a"; done >> "$work/dialog"
STUB
chmod +x "$work/bin/xdg-open" "$work/bin/zenity"

"$service" --listen "127.0.0.1:$port" --tls-cert "$ca_dir/server.pem" --tls-key "$ca_dir/server.key" \
  --database "sqlite:$work/results.db" --salt "$salt" 2> "$work/service.log" &
service_pid=$!
for _ in $(seq 100); do
  curl -fsS --cacert "$ca_dir/ca.pem" "https://localhost:$port/healthz" >/dev/null 2>&1 && break
  kill -0 "$service_pid" 2>/dev/null || fail "service did not start: $(cat "$work/service.log")"
  sleep 0.1
done

PATH="$work/bin:$PATH" "$client" > "$work/client.out" 2>&1 &
client_pid=$!

# The welcome window is centred; its "Start Benchmark" button spans it at this height at 1280x720.
sleep 3
shot 1-welcome
xdotool mousemove --sync 640 471 click 1
clicked=$(date +%s)
# Waits until SECONDS after the click, then takes the named screenshot.
shot_at() {
  local wait=$(( clicked + $1 - $(date +%s) ))
  [ "$wait" -gt 0 ] && sleep "$wait"
  shot "$2"
}
shot_at 6 2-cpu

stored_count() { sqlite3 "$work/results.db" "SELECT count(*) FROM results"; }

case "$scenario" in
  quit)
    xdotool mousemove --sync 1261 18 click 1
    sleep 1
    shot 3-quit-popup
    start=$(date +%s%N)
    xdotool mousemove --sync 432 391 click 1
    for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.02; done
    end=$(date +%s%N)
    kill -0 "$client_pid" 2>/dev/null && fail "client still running 2 s after Quit"
    rc=0; wait "$client_pid" || rc=$?; client_pid=""
    ms=$(( (end - start) / 1000000 ))
    echo "quit: exit code $rc after ${ms} ms"
    [ "$rc" = 0 ] || fail "exit code $rc, expected 0"
    [ "$ms" -lt 1000 ] || fail "took ${ms} ms to end after Quit"
    [ ! -s "$work/opened" ] || fail "a page was opened: $(cat "$work/opened")"
    [ "$(stored_count)" = 0 ] || fail "something was stored"
    ;;
  full|service-down)
    # CPU test ~45 s after the click, then the four scenes 23 + 15 + 22 + 15 s: one shot in
    # the middle of each, timed from the click so slow screenshots do not add up.
    shot_at 40 3-cpu-late
    if [ "$scenario" = service-down ]; then
      kill "$service_pid"; wait "$service_pid" 2>/dev/null || true; service_pid=""
    fi
    shot_at 57 4-flux-core
    shot_at 76 5-electron
    shot_at 95 6-city
    shot_at 113 7-clouds
    for _ in $(seq 120); do kill -0 "$client_pid" 2>/dev/null || break; sleep 1; done
    kill -0 "$client_pid" 2>/dev/null && fail "client still running long after the run should have ended"
    rc=0; wait "$client_pid" || rc=$?; client_pid=""
    echo "client exit code $rc"; cat "$work/client.out"
    if [ "$scenario" = full ]; then
      [ "$rc" = 0 ] || fail "exit code $rc, expected 0"
      url=$(head -n1 "$work/opened" 2>/dev/null) || fail "no page was opened"
      echo "opened: $url"
      [[ "$url" =~ ^https://localhost:$port/benchmarks/([0-9A-Za-z]{12})$ ]] || fail "unexpected address '$url'"
      id=${BASH_REMATCH[1]}
      curl -fsS --cacert "$ca_dir/ca.pem" "https://localhost:$port/api/benchmarks/$id" > "$work/doc.json"
      /usr/bin/python3 - "$work/doc.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
score = doc["score"]
counts = [1, 2, 4, 6, 8, 12, 16, 24, 32, 48, 64]
for kernel in ("cpu_integer", "cpu_float"):
    got = [r["thread_count"] for r in score[kernel]]
    assert got == counts, f"{kernel} thread counts {got}"
    assert all(r["score"] > 0 for r in score[kernel]), f"{kernel} has a zero score"
ids = [g["id"] for g in score["gpu"]]
assert ids == [1, 2, 3, 4], f"gpu ids {ids}"
# Under a software renderer a heavy scene can stay below 1 frame per second, which
# truncates to 0, so only the order of the three figures is checked here.
for g in score["gpu"]:
    assert g["one_percent"] <= g["ten_percent"] <= g["average"], f"figures out of order: {g}"
print("stored document:", json.dumps(score))
PY
      curl -fsS --cacert "$ca_dir/ca.pem" "https://localhost:$port/benchmarks/$id" > "$work/page.html"
      grep -q "<svg" "$work/page.html" || fail "result page has no chart"
      [ "$(stored_count)" = 1 ] || fail "expected one stored result"
    else
      [ "$rc" = 1 ] || fail "exit code $rc, expected 1"
      [ -s "$work/dialog" ] || fail "no error dialog was shown"
      cat "$work/dialog"
      grep -qx -- "--title=Error" "$work/dialog" || fail "dialog not captioned Error"
      grep -qx -- "--text=An error occurred when submitting the benchmark results, please check your Internet connection and try again." \
        "$work/dialog" || fail "dialog does not show the generic error text"
      [ ! -s "$work/opened" ] || fail "a page was opened"
    fi
    ;;
  *) fail "unknown scenario $scenario" ;;
esac
echo "PASS: $scenario"
