#!/usr/bin/env bash
# The install-speed benchmark in one command (after scripts/bootstrap.sh):
# builds the stub, the packer and the limit probe in their own build folders,
# the payload and both installers, then times the installations under Wine
# and writes build/bench/report.md and build/bench/report.json.
#
#   bench/run.sh [--payload system|docs|many-small|big|random|huge] [--runs N] [--storage disk|tmpfs] [--profile]
#                [--variant NAME=STUB.exe]...
# --payload docs (3,000 files of /usr/share/doc) or many-small (100,000
# generated small text files) instead of the system files; the work folder is
# then build/bench-docs or build/bench-many-small. --payload big (1 GiB of
# /usr/lib and /usr/share) packs ours only, at encoder level 1, and times
# only the first window, with and without the prefix record. --payload random
# (400 MiB of random bytes) times the chunked setup file against the single
# stream, both packed at level 1; --payload huge (3 GiB generated, deleted
# after the run) installs the chunked one alone, for its peak memory.
# Environment: BENCH_WIN_BUILD, BENCH_NATIVE_BUILD (build folders, default
# build/bench-win and build/bench-native), BENCH_WORK (default build/bench),
# BENCH_LZMA_PREFIX (the liblzma the stub and the probe link, default
# build/mingw-lzma). On a machine that cannot run 32-bit code the defaults
# are build/bench-win64 and build/mingw64-lzma.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# Where 32-bit code cannot run, the 64-bit builds of the stub and the probes
# run under wine64, and NSIS (32-bit) is left out.
x64=()
python3 -c 'import sys; sys.path.insert(0, "tests/wine"); import harness; sys.exit(harness.STUB_X64)' || x64=(--x64)
preset=win
win=$root/build/bench-win
lzma=$root/build/mingw-lzma
if [[ ${#x64[@]} -gt 0 ]]; then
  preset=win64-test
  win=$root/build/bench-win64
  lzma=$root/build/mingw64-lzma
fi
win=${BENCH_WIN_BUILD:-$win}
native=${BENCH_NATIVE_BUILD:-$root/build/bench-native}
payload=system
if [[ ${1:-} == --payload ]]; then
  payload=$2
  shift 2
fi
default_work=$root/build/bench
[[ $payload == system ]] || default_work=$root/build/bench-$payload
work=${BENCH_WORK:-$default_work}

lzma=${BENCH_LZMA_PREFIX:-$lzma}
cmake --preset $preset -B "$win" -DLZMA_PREFIX="$(cd "$lzma" && pwd)" >/dev/null
cmake --build "$win" -j2 --target setup limit_probe wizard_probe
cmake --preset native -B "$native" -DWIN_BUILD_DIR="$win" >/dev/null
cmake --build "$native" -j2 --target packer

mkdir -p "$work"
python3 bench/make_payload.py "$work/payload" --kind "$payload"
options=()
[[ $payload == big ]] && options=(--level 1 --no-nsis)
[[ ${#x64[@]} -gt 0 && $payload != big ]] && options=(--no-nsis)
[[ $payload == random ]] && options=(--level 1 --no-nsis --no-norecord)
[[ $payload == huge ]] && options=(--level 1 --no-nsis --chunked-only)
python3 bench/make_installers.py --work "$work" --packer "$native/packer" --stub "$win/setup-stub.exe" "${options[@]}"
[[ $payload == big ]] && set -- --first-window-only "$@"
[[ $payload == random || $payload == huge ]] && set -- --chunked-only "$@"
status=0
python3 bench/run_bench.py --work "$work" --win-build "$win" "${x64[@]}" "$@" || status=$?
# 3 GiB of generated files and their setup file are not kept.
[[ $payload == huge ]] && rm -rf "$work/payload/tree" "$work"/setup-ours-chunked.*
exit $status
