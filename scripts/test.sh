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
# Seeds: small setup files from the packer, and their unpacked blocks.
rm -rf build/fuzz/corpus-setup build/fuzz/corpus-block
BLOCK_CORPUS=build/fuzz/corpus-block bash tests/fuzz/make_corpus.sh build/native/packer build/fuzz/corpus-setup >/dev/null
for target in setup_file:corpus-setup package_block:corpus-block; do
  fuzzer=build/fuzz/fuzz_${target%%:*}
  log=$fuzzer.log
  if ! "$fuzzer" -max_total_time=30 -print_final_stats=1 "build/fuzz/${target#*:}" >"$log" 2>&1; then
    tail -n 60 "$log"
    exit 1
  fi
  echo "$(basename "$fuzzer"): $(grep -E 'stat::number_of_executed_units' "$log")"
done

echo "== unit and Wine tests"
python3 -c 'import sys; sys.path.insert(0, "tests/wine"); import harness
if harness.STUB_X64:
    print("note:", harness.NO_NATIVE_X86_32 + ": the Wine tests run a 64-bit build of the stub;",
          "those that need a 32-bit prefix are skipped")'
ctest --test-dir build/native --output-on-failure -j"$jobs"
