#!/usr/bin/env python3
"""Times the silent installations of the benchmark payload under Wine: ours,
NSIS and the in-process limit, alternating, in one warm prefix; checks every
installed tree; measures peak memory; writes report.md and report.json.

    run_bench.py --work build/bench --win-build build/bench-win [--runs 5]
"""
import argparse
import glob
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench_lib  # noqa: E402
from wine_env import WinePrefix, start_xvfb  # noqa: E402

MIB = 1 << 20


def summary(values):
    return {"best": min(values), "median": statistics.median(values), "all": values}


class Bench:
    def __init__(self, args):
        self.work = args.work.resolve()
        self.win_build = args.win_build.resolve()
        self.installers = json.loads((self.work / "installers.json").read_text())
        self.payload = json.loads((self.work / "payload" / "payload.json").read_text())
        self.target = self.installers["target"]
        self.product = self.installers["product"]
        self.probe = self.win_build / "limit_probe.exe"
        self.setup = {"ours": self.work / "setup-ours.exe", "nsis": self.work / "setup-nsis.exe",
                      "tiny": self.work / "setup-tiny.exe"}
        self.display, self.xvfb = start_xvfb()
        self.wine = WinePrefix(self.work / "prefix", self.display)

    # --- between runs -------------------------------------------------------

    def clean(self):
        """Removes what an installation leaves: the target tree, and for ours
        the uninstall entry and the shortcuts, so that every run is a fresh
        installation into a missing directory."""
        target = self.wine.host(self.target)
        shutil.rmtree(target, ignore_errors=True)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.rmtree(self.wine.host("C:\\bench\\tiny"), ignore_errors=True)
        drive = self.wine.path / "drive_c"
        for link in glob.glob(str(drive / "**" / f"{self.product}*.lnk"), recursive=True):
            os.unlink(link)
        key = f"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{self.product}"
        self.wine.run(["reg", "delete", key, "/f"], timeout=120)
        # Start every timed run with no dirty pages from the previous one.
        os.sync()

    def verify(self, what):
        digest, files, size = bench_lib.tree_digest(self.wine.host(self.target))
        ok = digest == self.payload["digest"] and files == self.payload["files"]
        if not ok:
            print(f"  {what}: WRONG TREE ({files} files, {size} bytes, digest {digest[:16]})", flush=True)
        return ok

    # --- one run of each kind -----------------------------------------------

    def run_ours(self, memory=False):
        self.clean()
        r = self.wine.run([self.setup["ours"], "/S"], memory_of="setup-ours.exe" if memory else None)
        r["verified"] = self.verify("ours")
        return r

    def run_nsis(self, memory=False):
        self.clean()
        r = self.wine.run([self.setup["nsis"], "/S", f"/D={self.target}"],
                          memory_of="setup-nsis.exe" if memory else None)
        r["verified"] = self.verify("nsis")
        return r

    def run_limit(self, *options):
        self.clean()
        r = self.wine.run([self.probe, self.wine.win(self.setup["ours"]), self.target, *options])
        try:
            r["probe"] = json.loads(r["stdout"].strip().splitlines()[-1])
        except (ValueError, IndexError):
            r["probe"] = {"error": r["stdout"] + r["stderr"]}
        r["verified"] = "--no-write" in options or self.verify("limit " + " ".join(options))
        return r

    # --- the benchmark ------------------------------------------------------

    def measure(self, runs, profile):
        self.wine.ensure()
        self.wine.use_storage(self.storage)
        self.wine.start_server()
        try:
            for _ in range(2):  # warm the page cache and the prefix
                self.wine.run([self.probe, "--noop"])
            self.run_limit("--no-write")
            timed = {"ours": [], "nsis": [], "limit": [], "noop": [], "tiny": []}
            for i in range(runs):
                order = ["ours", "nsis", "limit"] if i % 2 == 0 else ["limit", "nsis", "ours"]
                for kind in order:
                    r = {"ours": self.run_ours, "nsis": self.run_nsis, "limit": self.run_limit}[kind]()
                    timed[kind].append(r)
                    extra = ""
                    if kind == "limit":
                        p = r["probe"]
                        extra = (f" (read {p.get('read_ms', 0):.0f} ms, decode {p.get('decode_ms', 0):.0f} ms, "
                                 f"checksum {p.get('checksum_ms', 0):.0f} ms, write {p.get('write_ms', 0):.0f} ms)")
                    print(f"run {i + 1} {kind:5s} {r['seconds']:7.3f} s exit {r['code']} "
                          f"{'ok' if r['verified'] else 'FAILED'}{extra}", flush=True)
                timed["noop"].append(self.wine.run([self.probe, "--noop"]))
                self.clean()
                timed["tiny"].append(self.wine.run([self.setup["tiny"], "/S"]))
            memory = {
                "ours": self.run_ours(memory=True),
                "nsis": self.run_nsis(memory=True),
            }
            self.clean()
            memory["tiny"] = self.wine.run([self.setup["tiny"], "/S"], memory_of="setup-tiny.exe")
            memory["tiny"]["verified"] = self.wine.host("C:\\bench\\tiny\\readme.txt").exists()
            profiles = {}
            if profile:
                for name, options in [("limit", []), ("stub_dirs", ["--stub-dirs"]),
                                      ("one_write", ["--one-write"]), ("no_time", ["--no-time"]),
                                      ("decode_only", ["--no-write"]),
                                      ("chunk_64k", ["--no-write", "--chunk", "65536"])]:
                    rs = [self.run_limit(*options) for _ in range(3)]
                    profiles[name] = rs
                    print(f"profile {name:12s} " + ", ".join(
                        f"decode {r['probe'].get('decode_ms', 0):.0f} write {r['probe'].get('write_ms', 0):.0f}"
                        for r in rs), flush=True)
            self.clean()
            return timed, memory, profiles
        finally:
            self.wine.stop_server()
            self.wine.use_storage("disk")
            self.xvfb.terminate()
            self.xvfb.wait()


def probe_figure(runs, key):
    return [r["probe"].get(key, float("nan")) for r in runs]


def build_report(bench, timed, memory, profiles, started):
    inst = bench.installers
    ours = summary([r["seconds"] for r in timed["ours"]])
    nsis = summary([r["seconds"] for r in timed["nsis"]])
    limit_ms = [p["probe"]["decode_ms"] + p["probe"]["write_ms"] for p in timed["limit"]]
    limit = summary([ms / 1000 for ms in limit_ms])
    probe_wall = summary([r["seconds"] for r in timed["limit"]])
    noop = summary([r["seconds"] for r in timed["noop"]])
    tiny = summary([r["seconds"] for r in timed["tiny"]])
    phases = {k: summary(probe_figure(timed["limit"], k + "_ms"))
              for k in ("open", "read", "decode", "checksum", "index", "write")}
    packed, unpacked = inst["ours"]["packed"], inst["ours"]["unpacked"]
    dictionary = inst["dictionary"]
    bound = packed + unpacked + dictionary
    peak = (memory["ours"].get("peak_kib") or 0) * 1024
    baseline = (memory["tiny"].get("peak_kib") or 0) * 1024
    net = peak - baseline
    all_verified = all(r["verified"] for k in ("ours", "nsis", "limit") for r in timed[k]) and \
        all(m["verified"] for m in memory.values())

    ratio_nsis = ours["median"] / nsis["median"]
    ratio_limit = ours["median"] / limit["median"]
    size_ratio = inst["stub"]["bytes"] / inst["nsis_empty"]["bytes"]
    goals = [
        {"goal": "time vs NSIS (median)", "value": ratio_nsis, "target": "<= 0.75", "met": ratio_nsis <= 0.75},
        {"goal": "time vs limit (median)", "value": ratio_limit, "target": "<= 1.10", "met": ratio_limit <= 1.10},
        {"goal": "peak memory above baseline", "value": net, "target": f"<= {bound + 4 * MIB}",
         "met": 0 < net <= bound + 4 * MIB},
        {"goal": "stub vs NSIS empty installer", "value": size_ratio, "target": "<= 0.50", "met": size_ratio <= 0.5},
    ]
    report = {
        "started": started,
        "machine": {"cpu": cpu_model(), "cores": os.cpu_count(), "kernel": platform.release(),
                    "load_before": started_load, "load_after": os.getloadavg(),
                    "wine": subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip(),
                    "makensis": subprocess.run(["makensis", "-VERSION"], capture_output=True, text=True).stdout.strip()},
        "payload": {k: bench.payload[k] for k in ("files", "bytes", "digest")},
        "sizes": {"stub": inst["stub"]["bytes"], "nsis_empty": inst["nsis_empty"]["bytes"],
                  "setup_ours": inst["ours"]["bytes"], "setup_nsis": inst["nsis"]["bytes"],
                  "packed": packed, "unpacked": unpacked, "dictionary": dictionary},
        "runs": len(timed["ours"]),
        "storage": bench.storage,
        "all_verified": all_verified,
        "seconds": {"ours": ours, "nsis": nsis, "limit": limit, "limit_process": probe_wall, "wine_noop": noop,
                    "ours_one_file": tiny},
        "limit_phases_ms": phases,
        "ratios": {"ours_vs_nsis_median": ratio_nsis, "ours_vs_nsis_best": ours["best"] / nsis["best"],
                   "ours_vs_limit_median": ratio_limit, "ours_vs_limit_best": ours["best"] / limit["best"],
                   "stub_vs_nsis_empty": size_ratio},
        "memory": {"ours_peak": peak, "tiny_peak": baseline, "ours_net": net, "bound": bound,
                   "bound_plus_4mib": bound + 4 * MIB, "nsis_peak": (memory["nsis"].get("peak_kib") or 0) * 1024,
                   "samples": memory["ours"].get("samples")},
        "goals": goals,
        "profiles": {name: {"decode_ms": summary(probe_figure(rs, "decode_ms")),
                            "write_ms": summary(probe_figure(rs, "write_ms"))}
                     for name, rs in profiles.items()},
    }
    return report


def cpu_model():
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor()


def markdown(rep):
    s = rep["seconds"]
    ph = rep["limit_phases_ms"]
    sz = rep["sizes"]
    m = rep["memory"]
    lines = [
        "# Install-speed benchmark",
        "",
        f"Payload: {rep['payload']['files']} files, {rep['payload']['bytes']:,} bytes, "
        f"digest {rep['payload']['digest'][:16]}. {rep['runs']} runs of each, alternating, "
        f"in one warm Wine prefix, target on {rep['storage']}; every installed tree verified: {'yes' if rep['all_verified'] else 'NO'}.",
        f"Machine: {rep['machine']['cpu']}, {rep['machine']['cores']} cores, load "
        f"{rep['machine']['load_before'][0]:.2f} before / {rep['machine']['load_after'][0]:.2f} after; "
        f"{rep['machine']['wine']}, makensis {rep['machine']['makensis']}.",
        "",
        "| Installation | best s | median s | all runs s |",
        "|---|---:|---:|---|",
    ]
    for key, label in [("ours", "ours: `wine setup.exe /S` (whole process)"),
                       ("nsis", "NSIS: `wine setup.exe /S /D=...` (whole process)"),
                       ("limit", "limit: decode + write, in-process"),
                       ("limit_process", "limit probe, whole process"),
                       ("ours_one_file", "ours with a one-file package (fixed cost)"),
                       ("wine_noop", "Wine: start and exit of an empty program")]:
        v = s[key]
        lines.append(f"| {label} | {v['best']:.3f} | {v['median']:.3f} | "
                     + ", ".join(f"{x:.2f}" for x in v["all"]) + " |")
    lines += ["", "| Limit phase (in-process) | best ms | median ms |", "|---|---:|---:|"]
    for k in ("open", "read", "decode", "checksum", "index", "write"):
        lines.append(f"| {k} | {ph[k]['best']:.1f} | {ph[k]['median']:.1f} |")
    lines += ["", "| Goal | measured | target | met |", "|---|---:|---|---|"]
    for g in rep["goals"]:
        value = f"{g['value']:.3f}" if isinstance(g["value"], float) else f"{g['value']:,} B"
        lines.append(f"| {g['goal']} | {value} | {g['target']} | {'yes' if g['met'] else 'NO'} |")
    r = rep["ratios"]
    lines += [
        "",
        f"Ratios on best times: ours/NSIS {r['ours_vs_nsis_best']:.3f}, ours/limit {r['ours_vs_limit_best']:.3f}.",
        "",
        "| Size | bytes |",
        "|---|---:|",
        f"| stub (setup-stub.exe) | {sz['stub']:,} |",
        f"| NSIS empty installer | {sz['nsis_empty']:,} |",
        f"| our setup file | {sz['setup_ours']:,} |",
        f"| NSIS setup file | {sz['setup_nsis']:,} |",
        f"| PackedSize / UnpackedSize / dictionary | {sz['packed']:,} / {sz['unpacked']:,} / {sz['dictionary']:,} |",
        "",
        "| Memory (VmHWM) | bytes |",
        "|---|---:|",
        f"| ours, payload | {m['ours_peak']:,} |",
        f"| ours, one-file package (baseline: Wine and the stub) | {m['tiny_peak']:,} |",
        f"| ours, payload minus baseline | {m['ours_net']:,} |",
        f"| PackedSize + UnpackedSize + dictionary | {m['bound']:,} |",
        f"| NSIS, payload | {m['nsis_peak']:,} |",
    ]
    if rep["profiles"]:
        lines += ["", "| Limit probe variant (3 runs) | decode median ms | write median ms |", "|---|---:|---:|"]
        for name, p in rep["profiles"].items():
            lines.append(f"| {name} | {p['decode_ms']['median']:.0f} | {p['write_ms']['median']:.0f} |")
    return "\n".join(lines) + "\n"


started_load = os.getloadavg()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", type=Path, required=True)
    ap.add_argument("--win-build", type=Path, required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--profile", action="store_true", help="also time the limit probe's variants")
    ap.add_argument("--storage", choices=["disk", "tmpfs"], default="disk",
                    help="where the installations write: the prefix's disk, or RAM (steadier on a busy machine)")
    args = ap.parse_args()
    started = time.strftime("%Y-%m-%dT%H:%M:%S")
    bench = Bench(args)
    bench.storage = args.storage
    timed, memory, profiles = bench.measure(args.runs, args.profile)
    report = build_report(bench, timed, memory, profiles, started)
    (bench.work / "report.json").write_text(json.dumps(report, indent=1) + "\n")
    text = markdown(report)
    (bench.work / "report.md").write_text(text)
    print(text)
    return 0 if report["all_verified"] else 1


if __name__ == "__main__":
    sys.exit(main())
