#!/usr/bin/env bash
# The install-speed benchmark in one command (after scripts/bootstrap.sh):
# builds the stub, the packer and the limit probe in their own build folders,
# the payload and both installers, then times the installations under Wine
# and writes build/bench/report.md and build/bench/report.json.
#
#   bench/run.sh [--payload system|docs|many-small|big] [--runs N] [--storage disk|tmpfs] [--profile]
#                [--variant NAME=STUB.exe]...
# --payload docs (3,000 files of /usr/share/doc) or many-small (100,000
# generated small text files) instead of the system files; the work folder is
# then build/bench-docs or build/bench-many-small. --payload big (1 GiB of
# /usr/lib and /usr/share) packs ours only, at encoder level 1, and times
# only the first window, with and without the prefix record.
# Environment: BENCH_WIN_BUILD, BENCH_NATIVE_BUILD (build folders, default
# build/bench-win and build/bench-native), BENCH_WORK (default build/bench),
# BENCH_LZMA_PREFIX (the liblzma the stub and the probe link, default
# build/mingw-lzma).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win=${BENCH_WIN_BUILD:-$root/build/bench-win}
native=${BENCH_NATIVE_BUILD:-$root/build/bench-native}
payload=system
if [[ ${1:-} == --payload ]]; then
  payload=$2
  shift 2
fi
default_work=$root/build/bench
[[ $payload == system ]] || default_work=$root/build/bench-$payload
work=${BENCH_WORK:-$default_work}
cd "$root"

lzma=${BENCH_LZMA_PREFIX:-$root/build/mingw-lzma}
cmake --preset win -B "$win" -DLZMA_PREFIX="$(cd "$lzma" && pwd)" >/dev/null
cmake --build "$win" -j2 --target setup limit_probe wizard_probe
cmake --preset native -B "$native" -DWIN_BUILD_DIR="$win" >/dev/null
cmake --build "$native" -j2 --target packer

mkdir -p "$work"
python3 bench/make_payload.py "$work/payload" --kind "$payload"
big=()
[[ $payload == big ]] && big=(--level 1 --no-nsis)
python3 bench/make_installers.py --work "$work" --packer "$native/packer" --stub "$win/setup-stub.exe" "${big[@]}"
[[ $payload == big ]] && set -- --first-window-only "$@"
python3 bench/run_bench.py --work "$work" --win-build "$win" "$@"
