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
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
