#!/usr/bin/env bash
# Builds the stub (cross), the packer and the tests (native), and the packer
# for Windows (cross).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/bootstrap.sh
jobs=$(nproc)
cmake --preset win >/dev/null
cmake --build --preset win -j"$jobs"
cmake --preset win-packer >/dev/null
cmake --build --preset win-packer -j"$jobs"
# Where 32-bit code cannot run, the Wine tests use a 64-bit build of the stub.
if ! python3 -c 'import sys; sys.path.insert(0, "tests/wine"); import harness; sys.exit(harness.STUB_X64)'; then
  cmake --preset win64-test >/dev/null
  cmake --build --preset win64-test -j"$jobs"
fi
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
