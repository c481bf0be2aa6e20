#!/usr/bin/env bash
# Runs the Intel HEX reader under libFuzzer, with the address and undefined-behaviour
# sanitizers, for SECONDS seconds (default 30). Installs clang and libFuzzer when
# missing. Exits non-zero when the fuzzer finds a crash or a broken invariant; the
# input that caused it is left in the scratch folder and its path printed.
#
#   scripts/fuzz.sh [SECONDS]
#
# KITUPDATER_FUZZ_BUILD (default build-fuzz/) and KITUPDATER_FUZZ_OUT (default
# fuzz-out/, not tracked) move the build and the scratch folder, so that runs can
# go on side by side.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

RUN_SECONDS=${1:-30}
FUZZ_BUILD=${KITUPDATER_FUZZ_BUILD:-$ROOT/build-fuzz}
FUZZ_OUT=${KITUPDATER_FUZZ_OUT:-$ROOT/fuzz-out}
FUZZER=$FUZZ_BUILD/fuzz_heximage

if ! [[ $RUN_SECONDS =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [SECONDS]   (a whole number of seconds, at least 1)" >&2
  exit 2
fi

build_fuzzer() {
  # libclang-rt-dev carries libFuzzer and the sanitizer runtimes for Debian's default clang.
  install_missing_packages clang libclang-rt-dev
  cmake -S "$ROOT/fuzz" -B "$FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build "$FUZZ_BUILD" -j"$(nproc)" >/dev/null
}

# The seed corpus stays as it is in git; what the fuzzer adds goes to the scratch copy.
fresh_scratch() {
  rm -rf "$FUZZ_OUT/corpus" "$FUZZ_OUT/crashes" "$FUZZ_OUT/fuzz.log"
  mkdir -p "$FUZZ_OUT/corpus" "$FUZZ_OUT/crashes"
  cp "$ROOT"/fuzz/corpus/* "$FUZZ_OUT/corpus/"
}

run_fuzzer() {
  "$FUZZER" "$FUZZ_OUT/corpus" \
    -dict="$ROOT/fuzz/hex.dict" \
    -max_len=4096 \
    -max_total_time="$RUN_SECONDS" \
    -timeout=10 \
    -print_final_stats=1 \
    -artifact_prefix="$FUZZ_OUT/crashes/" \
    >"$FUZZ_OUT/fuzz.log" 2>&1
}

final_stat() {
  sed -n "s/^stat::$1: *//p" "$FUZZ_OUT/fuzz.log" | tail -n 1
}

# The sanitizer's or the invariant's report, from its first line on.
first_report() {
  sed -n '/ERROR\|invariant broken\|runtime error/,$p' "$FUZZ_OUT/fuzz.log" | head -n 60
}

report() {
  local status=$1 elapsed=$2
  local seeds
  seeds=$(find "$ROOT/fuzz/corpus" -type f | wc -l)
  echo "fuzz: $(final_stat number_of_executed_units) executions in $elapsed s," \
       "$(final_stat average_exec_per_sec) per second," \
       "corpus $seeds seeds + $(final_stat new_units_added) found inputs, peak memory $(final_stat peak_rss_mb) MB"
  echo "fuzz: full output in $FUZZ_OUT/fuzz.log"
  local crashes
  crashes=$(find "$FUZZ_OUT/crashes" -type f)
  if [ "$status" -ne 0 ] || [ -n "$crashes" ]; then
    first_report
    echo "fuzz: FAILED (exit status $status); inputs that broke the reader:"
    echo "${crashes:-  (none written; see the output above)}"
    echo "fuzz: reproduce with $FUZZER <input>"
    return 1
  fi
  echo "fuzz: no crash, no broken invariant"
}

build_fuzzer
fresh_scratch
echo "fuzz: running the HEX reader for $RUN_SECONDS s"
started=$(date +%s)
status=0
run_fuzzer || status=$?
report "$status" $(($(date +%s) - started))
