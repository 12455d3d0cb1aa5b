#!/usr/bin/env python3
"""Compares liblzma builds for the stub: decode time of the benchmark's
package under Wine (the limit probe, --no-write, linked with each build) and
the size of the stub linked with each build. Variants run in rotating order
in one warm prefix, so their ratios are comparable even on a busy machine.

    compare_lzma.py --work build/bench [--rounds 5] NAME...
NAME is a folder under build/bench/lzma (see build_lzma.sh) or "bootstrap"
for build/mingw-lzma. Each is built in build/bench-win-NAME.
"""
import argparse
import json
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from wine_env import WinePrefix, start_xvfb  # noqa: E402

ROOT = Path(__file__).resolve().parents[1]


def build(name):
    prefix = ROOT / "build" / "mingw-lzma" if name == "bootstrap" else ROOT / "build" / "bench" / "lzma" / name
    out = ROOT / "build" / f"bench-win-{name}"
    subprocess.run(["cmake", "--preset", "win", "-B", out, f"-DLZMA_PREFIX={prefix}"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    for attempt in range(3):  # sources may be mid-edit by other work
        done = subprocess.run(["cmake", "--build", out, "-j2", "--target", "setup", "limit_probe"], cwd=ROOT,
                              stdout=subprocess.DEVNULL)
        if done.returncode == 0:
            break
        time.sleep(30)
    else:
        sys.exit(f"cannot build {out}")
    variant = prefix / "variant.txt"
    return {"name": name, "dir": out, "stub": (out / "setup-stub.exe").stat().st_size,
            "flags": variant.read_text().strip() if variant.exists() else "scripts/bootstrap.sh"}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", type=Path, default=ROOT / "build" / "bench")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("names", nargs="+")
    args = ap.parse_args()
    work = args.work.resolve()
    variants = [build(n) for n in args.names]
    setup = work / "setup-ours.exe"
    display, xvfb = start_xvfb()
    wine = WinePrefix(work / "prefix", display)
    wine.ensure()
    wine.start_server()
    times = {v["name"]: [] for v in variants}
    try:
        for v in variants:  # warm-up
            wine.run([v["dir"] / "limit_probe.exe", wine.win(setup), "C:\\bench\\unused", "--no-write"])
        for r in range(args.rounds):
            order = variants[r % len(variants):] + variants[:r % len(variants)]
            for v in order:
                res = wine.run([v["dir"] / "limit_probe.exe", wine.win(setup), "C:\\bench\\unused", "--no-write"])
                probe = json.loads(res["stdout"].strip().splitlines()[-1])
                times[v["name"]].append(probe["decode_ms"])
                print(f"round {r + 1} {v['name']:10s} decode {probe['decode_ms']:8.0f} ms", flush=True)
    finally:
        wine.stop_server()
        xvfb.terminate()
        xvfb.wait()
    base = statistics.median(times[variants[0]["name"]])
    rows = []
    for v in variants:
        t = times[v["name"]]
        rows.append({"name": v["name"], "flags": v["flags"], "stub_bytes": v["stub"],
                     "decode_ms_median": statistics.median(t), "decode_ms_best": min(t),
                     "vs_first": statistics.median(t) / base, "decode_ms": t})
    lines = ["| liblzma build | flags | stub bytes | decode median ms | best ms | vs first |",
             "|---|---|---:|---:|---:|---:|"]
    for row in rows:
        lines.append(f"| {row['name']} | {row['flags']} | {row['stub_bytes']:,} | {row['decode_ms_median']:.0f} | "
                     f"{row['decode_ms_best']:.0f} | {row['vs_first']:.3f} |")
    text = "\n".join(lines) + "\n"
    (work / "lzma_variants.md").write_text(text)
    (work / "lzma_variants.json").write_text(json.dumps(rows, indent=1) + "\n")
    print(text)


if __name__ == "__main__":
    main()
