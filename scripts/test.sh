#!/usr/bin/env bash
# Runs every test: native unit tests (plain and with ASan/UBSan), a short
# fuzzing smoke run, and the Wine tests of the real stub.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/build.sh
jobs=$(nproc)

echo "== unit tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$jobs"
build/sanitize/unit_tests --gtest_brief=1

echo "== fuzzing smoke run"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
for fuzzer in build/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  corpus=build/fuzz/corpus-$(basename "$fuzzer")
  mkdir -p "$corpus"
  [ -x tests/fuzz/make_corpus.sh ] && bash tests/fuzz/make_corpus.sh "$corpus" >/dev/null
  log=build/fuzz/$(basename "$fuzzer").log
  if ! "$fuzzer" -max_total_time=30 -print_final_stats=1 "$corpus" >"$log" 2>&1; then
    tail -n 60 "$log"
    exit 1
  fi
  grep -E 'stat::number_of_executed_units' "$log" || true
done

echo "== unit and Wine tests"
ctest --test-dir build/native --output-on-failure -j"$jobs"
