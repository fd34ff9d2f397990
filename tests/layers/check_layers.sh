#!/bin/bash
# Compiles one-line probes against the folders' include roots: a folder reaches itself and
# the folders below it in the README's table, and a header of a folder above it is not found.
# usage: check_layers.sh <c++ compiler> <source root> <include roots>
set -u
cxx=$1 src=$2 roots=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# folder   header                  expected
cases="
core     core/text.h              found
cpu      core/protocol.h          found
stages   cpu/CpuEngine.h          found
server   core/protocol.h          found
core     platform/platform.h      missing
cpu      render/math.h            missing
shell    stages/WelcomeStage.h    missing
stages   app/Program.h            missing
report   shell/RunProgress.h      missing
server   cpu/CpuEngine.h          missing
"
while read -r folder header expected; do
  [ -n "$folder" ] || continue
  if [ ! -f "$src/$header" ]; then
    echo "FAIL: $header is not in the source tree; the case tests nothing"
    failures=$((failures + 1)); continue
  fi
  printf '#include "%s"\n' "$header" > "$work/probe.cpp"
  if "$cxx" -std=c++20 -fsyntax-only -I "$roots/$folder" "$work/probe.cpp" 2> "$work/err"; then
    got=found
  elif grep -q "$header: No such file" "$work/err"; then
    got=missing
  else
    got="a different error: $(head -3 "$work/err")"
  fi
  if [ "$got" = "$expected" ]; then
    echo "ok: $folder includes $header: $got"
  else
    echo "FAIL: $folder includes $header: expected $expected, got $got"
    failures=$((failures + 1))
  fi
done <<< "$cases"
exit $((failures > 0))
