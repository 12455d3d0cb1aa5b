#!/usr/bin/env bash
# The main job: builds everything, packs the sample product into a setup
# file, installs it silently under Wine and shows what was installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/build.sh
out=build/sample
rm -rf "$out/product" && mkdir -p "$out/product"
cp -r sample/product/. "$out/product/"
cp build/win/sample_app.exe "$out/product/Sample.exe"
build/native/packer build --manifest sample/manifest.toml --product-dir "$out/product" \
  --stub build/win/setup-stub.exe --output "$out/SampleSetup.exe"
echo "== setup file: $out/SampleSetup.exe ($(stat -c %s "$out/SampleSetup.exe") bytes)"
build/native/packer inspect "$out/SampleSetup.exe"
python3 scripts/install_sample.py "$out/SampleSetup.exe"
