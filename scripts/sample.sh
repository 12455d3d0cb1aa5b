#!/usr/bin/env bash
# The main job: builds everything, packs the sample product into a setup
# file, installs it silently under Wine and shows what was installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/build.sh
out=build/sample
win=build/win
if ! python3 -c 'import sys; sys.path.insert(0, "tests/wine"); import harness; sys.exit(harness.STUB_X64)'; then
  win=build/win64-test
  echo "== this machine cannot run 32-bit x86 programs natively: the sample uses the 64-bit test build of the stub"
fi
rm -rf "$out/product" && mkdir -p "$out/product"
cp -r sample/product/. "$out/product/"
cp "$win/sample_app.exe" "$out/product/Sample.exe"
build/native/packer build --manifest sample/manifest.toml --product-dir "$out/product" \
  --stub "$win/setup-stub.exe" --output "$out/SampleSetup.exe"
echo "== setup file: $out/SampleSetup.exe ($(stat -c %s "$out/SampleSetup.exe") bytes)"
build/native/packer inspect "$out/SampleSetup.exe"
python3 scripts/install_sample.py "$out/SampleSetup.exe"
