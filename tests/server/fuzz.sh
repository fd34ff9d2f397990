#!/usr/bin/env bash
# Builds the submission-check fuzz target with clang's libFuzzer and AddressSanitizer
# (plus UndefinedBehaviorSanitizer) and runs it for a bounded time.
#   tests/server/fuzz.sh [SECONDS] [WORKDIR]      default 60 s, WORKDIR build-fuzz
# The corpus stays in WORKDIR/corpus between runs; crashes land in WORKDIR as crash-*.
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=${2:-$root/build-fuzz}
mkdir -p "$work"
work=$(cd "$work" && pwd)  # the run below changes folder
cxx=${CXX_FUZZ:-$(command -v clang++-14 || command -v clang++ || true)}
[ -n "$cxx" ] || { echo "fuzz.sh: clang++ not found (Debian packages clang, libclang-rt-14-dev)"; exit 77; }
mkdir -p "$work/corpus" "$work/seeds"

flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -I"$root"
       -DTALLYFORGE_SALT_FILE="\"$root/assets/digest_salt.bin\"")
cmake -DINPUT="$root/server/pages.css" -DOUTPUT="$work/pageStyleSheet.cpp" -DSYMBOL=pageStyleSheet \
      -P "$root/cmake/EmbedFile.cmake"
sources=("$root/tests/server/fuzz_validator.cpp" "$root/server/submission.cpp" "$root/server/pages.cpp" "$root/server/format.cpp" "$root/server/charts.cpp"
         "$root/server/page_checks.cpp" "$root/server/page_model.cpp" "$root/server/methodology_page.cpp" "$root/server/page_browse.cpp" "$root/server/listing.cpp" "$root/server/models.cpp" "$root/server/checks.cpp"
         "$work/pageStyleSheet.cpp" "$root/core/document.cpp" "$root/core/text.cpp" "$root/core/crypto_openssl.cpp")
echo "fuzz.sh: building $work/fuzz_validator with $cxx"
"$cxx" "${flags[@]}" "${sources[@]}" -lcrypto -o "$work/fuzz_validator"

# Seeds: documents signed with the real salt, written by the target itself.
TALLYFORGE_FUZZ_WRITE_SEEDS="$work/seeds" "$work/fuzz_validator"

cat > "$work/json.dict" <<'DICT'
"{"
"}"
"["
"]"
":"
","
"\"uuid\""
"\"version\""
"\"score\""
"\"cpu_integer\""
"\"cpu_float\""
"\"gpu\""
"\"thread_count\""
"\"average\""
"\"ten_percent\""
"\"one_percent\""
"\"video_controllers\""
"\"processor\""
"\"computer_system\""
"\"gl_gpu\""
"\"resolution\""
"\"\\u0000\""
"\\ud800"
"18446744073709551615"
"-2147483649"
"4294967296"
"1e309"
"true"
"null"
DICT

cd "$work"
echo "fuzz.sh: running for $seconds s"
set +e
"$work/fuzz_validator" -max_total_time="$seconds" -max_len=70000 -dict="$work/json.dict" \
  -print_final_stats=1 "$work/corpus" "$work/seeds" 2>&1 | tee "$work/fuzz.log" |
  awk '/^###### Recommended dictionary/{skip=1} !skip && !/^#[0-9]+[ \t]+(NEW|REDUCE|pulse)/ && !/NEW_FUNC/{print} /^###### End of recommended/{skip=0}'
status=${PIPESTATUS[0]}
set -e
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -n1)
echo "fuzz.sh: exit status $status, ${runs:-?} executions in $seconds s"
exit "$status"
