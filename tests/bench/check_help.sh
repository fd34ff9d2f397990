#!/usr/bin/env bash
# A benchmark program asked for --help (or -h) prints its usage on stdout and exits 0 at
# once, starting nothing: no display, service or measurement; an unknown option prints the
# usage on stderr and exits 2.
#   check_help.sh PROGRAM
set -uo pipefail
program=${1:?program}
limit=10
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
failed=0
fail() { echo "FAIL: $program $*"; failed=1; }

# No display either: a program that opened a window before reading its options fails here.
run() { env -u DISPLAY -u WAYLAND_DISPLAY timeout -k 2 "$limit" "$program" "$@" >"$out" 2>"$err"; }

for flag in --help -h; do
  run "$flag"; rc=$?
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    fail "$flag: still running after $limit s, so it started its work"
    continue
  fi
  [ "$rc" = 0 ] || fail "$flag: exit $rc, expected 0; stderr: $(cat "$err")"
  grep -qi '^usage: ' "$out" || fail "$flag: no usage line on stdout: $(cat "$out")"
  [ -s "$err" ] && fail "$flag: wrote to stderr: $(cat "$err")"
done

run --no-such-option; rc=$?
[ "$rc" = 2 ] || fail "--no-such-option: exit $rc, expected 2"
grep -qi '^usage: ' "$err" || fail "--no-such-option: no usage line on stderr: $(cat "$err")"
[ -s "$out" ] && fail "--no-such-option: wrote to stdout: $(cat "$out")"
exit "$failed"
