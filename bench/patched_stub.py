#!/usr/bin/env python3
"""Builds the stub from a private copy of its sources with patch files
applied (see bench/patches/), optionally against another liblzma build, to
measure a proposed change with run_bench.py --variant. The project's own
files are not touched.

    patched_stub.py NAME [--patch FILE.py]... [--lzma PREFIX]
prints the path of build/bench/stubs/NAME/build/setup-stub.exe.
"""
import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from profile_stub import ROOT, build, make_source  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("name")
    ap.add_argument("--patch", action="append", default=[])
    ap.add_argument("--lzma", type=Path, default=ROOT / "build" / "mingw-lzma")
    args = ap.parse_args()
    base = ROOT / "build" / "bench" / "stubs" / args.name
    make_source(base / "src", [Path(p).resolve() for p in args.patch], marks=False)
    print(build(base / "src", base / "build", args.lzma.resolve()))


if __name__ == "__main__":
    main()
