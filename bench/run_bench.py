#!/usr/bin/env python3
"""Times the installations of the benchmark payload under Wine: ours and
NSIS silent and with their windows (ours through the wizard, driven by
wizard_probe.exe; NSIS with only its instfiles page), and the in-process
limit, alternating, in one warm prefix; checks every installed tree; measures
peak memory; writes report.md and report.json.

    run_bench.py --work build/bench --win-build build/bench-win [--runs 5]
                 [--storage disk|tmpfs] [--profile] [--variant NAME=STUB.exe]...

--variant adds another stub (for instance one built with a proposed change)
joined to the same package; it runs silently in the same rotation and is
reported beside ours.

The first-window rows time from the spawn of the setup to its wizard's
window (ours, ours packed without the prefix record, our one-file package,
NSIS with a licence page; each cancelled once its window shows), and our
wizard's whole process with the probe clicking through at once, with and
without the record. --first-window-only runs just ours of those (for the
1 GiB payload, which has no NSIS installers).
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
from wine_base import WINE64  # noqa: E402  (on the path once wine_env is imported)

MIB = 1 << 20
STARTED_LOAD = os.getloadavg()
PROBE_VARIANTS = [("limit", []), ("stub_dirs", ["--stub-dirs"]), ("one_write", ["--one-write"]),
                  ("no_time", ["--no-time"]), ("decode_only", ["--no-write"]),
                  ("decode_64k_input", ["--no-write", "--chunk", "65536"])]


# The goals per payload: (silent vs NSIS, silent vs limit, wizard install vs
# our silent process, memory allowance above the bound). Many small files
# cost the wizard a log line each and the stub an entry each.
GOALS = {"system": (0.60, 1.03, 1.0, 4 * MIB), "docs": (0.60, 1.03, 1.0, 4 * MIB),
         "many-small": (0.75, 1.05, 1.15, 10 * MIB)}

# First-window kinds: the setup file each starts, and whether the probe
# clicks through (else it cancels once the window shows).
FIRST_WINDOW = {"fw_ours": ("ours", False), "fw_norecord": ("ours_norecord", False), "fw_tiny": ("tiny", False),
                "fw_chunked": ("chunked", False),
                "fw_nsis": ("nsis_licence", False), "through_ours": ("ours", True),
                "through_norecord": ("ours_norecord", True)}
FIRST_WINDOW_GOAL_SLACK = 0.10  # seconds over the one-file package

# The chunked setup file against the single stream, per payload: silent
# install time ratio, setup file size ratio (random: the setup file against
# the payload). The memory bound: (decoders + 2) chunks + CHUNKED_ALLOWANCE.
CHUNKED_GOALS = {"random": (0.25, None), "huge": (None, None)}
CHUNKED_DEFAULT_GOALS = (0.70, 1.01)
RANDOM_SETUP_VS_PAYLOAD = 1.001
CHUNKED_ALLOWANCE = 64 * MIB
MAX_DECODERS = 8
DECODE_THREADS = (1, 2)


def summary(values):
    return {"best": min(values), "median": statistics.median(values), "all": values}


class Bench:
    def __init__(self, args):
        self.work = args.work.resolve()
        self.win_build = args.win_build.resolve()
        self.storage = args.storage
        self.installers = json.loads((self.work / "installers.json").read_text())
        self.payload = json.loads((self.work / "payload" / "payload.json").read_text())
        self.target = self.installers["target"]
        self.product = self.installers["product"]
        self.probe = self.win_build / "limit_probe.exe"
        self.wizard_probe = self.win_build / "wizard_probe.exe"
        self.setup = {"ours": self.work / "setup-ours.exe", "nsis": self.work / "setup-nsis.exe",
                      "nsis_gui": self.work / "setup-nsis-gui.exe", "tiny": self.work / "setup-tiny.exe",
                      "ours_norecord": self.work / "setup-ours-norecord.exe",
                      "nsis_licence": self.work / "setup-nsis-licence.exe",
                      "chunked": self.work / "setup-ours-chunked.exe"}
        self.chunked_only = args.chunked_only
        self.variants = []
        for given in args.variant:
            package = (self.work / "setup-ours.package.bin").read_bytes()
            name, stub = given.split("=", 1)
            path = self.work / f"setup-{name}.exe"
            path.write_bytes(Path(stub).read_bytes() + package)
            self.setup[name] = path
            self.variants.append({"name": name, "stub": stub, "stub_bytes": Path(stub).stat().st_size})
        self.display, self.xvfb = start_xvfb()
        # Where 32-bit code cannot run: the 64-bit builds under wine64, and
        # no NSIS, whose installers are 32-bit.
        self.x64 = args.x64
        self.wine = WinePrefix.for_storage(self.work, self.storage, self.display, self.x64)
        self.attic = self.work / "attic"
        self.retired = 0

    # --- between runs -------------------------------------------------------

    def clean(self):
        """Removes what an installation leaves: the target tree, and for ours
        the uninstall entry and the shortcuts, so that every run is a fresh
        installation into a missing directory."""
        target = self.wine.host(self.target)
        if self.storage == "disk" and target.exists():
            # Deleting 5,000 files on a filesystem mounted with discard
            # stalls file creation for seconds afterwards; earlier trees are
            # moved aside and deleted after the last run instead.
            self.retired += 1
            self.attic.mkdir(parents=True, exist_ok=True)
            target.rename(self.attic / str(self.retired))
        shutil.rmtree(target, ignore_errors=True)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.rmtree(self.wine.host("C:\\bench\\tiny"), ignore_errors=True)
        drive = self.wine.path / "drive_c"
        for link in glob.glob(str(drive / "**" / f"{self.product}*.lnk"), recursive=True):
            os.unlink(link)
        key = f"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{self.product}"
        # The 64-bit build registers where the shipped 32-bit stub does: in
        # the 32-bit view.
        self.wine.run(["reg", "delete", key, "/f"] + (["/reg:32"] if self.x64 else []), timeout=120)
        # Start every timed run with no dirty pages from the previous one.
        os.sync()

    def verify(self, what):
        digest, files, size = bench_lib.tree_digest(self.wine.host(self.target))
        ok = digest == self.payload["digest"] and files == self.payload["files"]
        if not ok:
            print(f"  {what}: WRONG TREE ({files} files, {size} bytes, digest {digest[:16]})", flush=True)
        return ok

    # --- one run of each kind -----------------------------------------------

    def run_setup(self, kind, memory=False):
        self.clean()
        args = [self.setup[kind], "/S"] + ([f"/D={self.target}"] if kind == "nsis" else [])
        if kind == "nsis_gui":
            args = [self.setup[kind], f"/D={self.target}"]
        r = self.wine.run(args, memory_of=self.setup[kind].name if memory else None)
        r["verified"] = self.verify(kind)
        return r

    def probe_wizard(self, *args):
        r = self.wine.run([self.wizard_probe, *args], timeout=900)
        if r["code"] != 0:
            raise RuntimeError(f"wizard_probe {' '.join(args)}: {r['stdout']}{r['stderr']}")
        return r["stdout"].split()

    def run_wizard(self):
        """Ours with its wizard, the probe as the user: accept, keep the
        directory, Install, then Finish without launching. seconds: from the
        Install click to the done page; process_seconds: the whole process
        minus the time it waited for the clicks."""
        self.clean()
        proc = self.wine.start([self.setup["ours"]])
        try:
            found = int(self.probe_wizard("find", "120000")[-1])
            self.probe_wizard("click", "9")  # the accept box; the destination page follows
            installed = self.probe_wizard("install")
            self.probe_wizard("click", "11")  # the launch box, unchecked
            finish = self.probe_wizard("click", "2")
        except Exception:
            self.wine.kill(proc)
            raise
        r = self.wine.finish(proc)
        click, done, finish_sent = int(installed[2]), int(installed[3]), int(finish[2])
        waited = ((click - found) + (finish_sent - done)) / 1e7  # QueryPerformanceCounter: 100 ns under Wine
        r["install_seconds"] = float(installed[1]) / 1000
        r["process_seconds"] = r["seconds"] - waited
        r["seconds"] = r["install_seconds"]
        r["verified"] = self.verify("wizard")
        return r

    def run_first_window(self, kind):
        """seconds: from the spawn of the setup to the moment the probe,
        already running and polling, reports the wizard's window (the line's
        arrival, on this clock). Clicking through also gives done_seconds
        (spawn to the done page) and process_seconds (spawn to exit)."""
        self.clean()
        setup, through = FIRST_WINDOW[kind]
        exe = self.setup[setup]
        probe = subprocess.Popen(["wine", str(self.wizard_probe), "await-window", exe.name, "300000",
                                  "through" if through else "cancel"], env=self.wine.env, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        r = {"seconds": float("nan")}
        proc = None
        try:
            if not probe.stdout.readline().startswith(b"ready"):
                raise RuntimeError("wizard_probe await-window did not start")
            t0 = time.perf_counter()
            proc = self.wine.start([exe])
            lines = []
            # The last line: the window when cancelling, Finish's click when clicking through.
            for line in iter(probe.stdout.readline, b""):
                t = time.perf_counter() - t0
                lines.append(line.decode(errors="replace").strip())
                if line.startswith(b"window"):
                    r["seconds"] = t
                elif line.startswith(b"installed"):
                    r["done_seconds"] = t
                if (not through and line.startswith(b"window")) or line.startswith(b"nowindow") or \
                        (through and line.startswith(b"clicked\t2\t")):
                    break
            try:
                r.update({k: v for k, v in self.wine.finish(proc, timeout=120).items() if k != "seconds"})
            except subprocess.TimeoutExpired:
                self.wine.kill(proc)
                r["code"] = "killed"
            r["process_seconds"] = time.perf_counter() - t0
            probe.wait(timeout=60)
        except Exception:
            probe.kill()
            if proc and proc.poll() is None:
                self.wine.kill(proc)
            raise
        r["probe"] = lines
        found = r["seconds"] == r["seconds"]
        if through:
            r["verified"] = found and "done_seconds" in r and self.verify(kind)
        else:
            r["verified"] = found and not self.wine.host(self.target).exists()
        return r

    def run_limit(self, *options):
        self.clean()
        r = self.wine.run([self.probe, self.wine.win(self.setup["ours"]), self.target, *options])
        try:
            r["probe"] = json.loads(r["stdout"].strip().splitlines()[-1])
        except (ValueError, IndexError):
            r["probe"] = {"error": r["stdout"] + r["stderr"]}
        ok = r["code"] == 0 and "error" not in r["probe"]
        r["verified"] = ok and ("--no-write" in options or self.verify("limit " + " ".join(options)))
        return r

    def run_decode_chunks(self, threads):
        """The chunked setup file's chunks after the prefix decoded on threads
        threads into one block, in-process (the limit probe)."""
        r = self.wine.run([self.probe, "--decode-chunks", self.wine.win(self.setup["chunked"]), str(threads)])
        try:
            return json.loads(r["stdout"].strip().splitlines()[-1])
        except (ValueError, IndexError):
            return {"error": r["stdout"] + r["stderr"]}

    def run_tiny(self, memory=False):
        self.clean()
        r = self.wine.run([self.setup["tiny"], "/S"], memory_of="setup-tiny.exe" if memory else None)
        r["verified"] = self.wine.host("C:\\bench\\tiny\\readme.txt").exists()
        return r

    # --- the benchmark ------------------------------------------------------

    def measure(self, runs, profile, first_window_only=False):
        self.wine.ensure()
        shutil.rmtree(self.attic, ignore_errors=True)
        self.wine.clear_bench_folder()
        self.wine.start_server()
        try:
            for _ in range(2):  # warm the page cache and the prefix
                self.wine.run([self.probe, "--noop"])
            # One untimed installation absorbs what the filesystem still owes
            # for earlier deletions.
            os.sync()
            self.run_limit()
            first = ["fw_ours", "fw_norecord", "fw_tiny", "fw_chunked", "through_ours", "through_norecord"]
            kinds = ["ours", "chunked", "limit", "wizard"] + [v["name"] for v in self.variants] + first
            nsis_kinds = [] if self.x64 else ["fw_nsis", "nsis", "nsis_gui"]
            if first_window_only:
                kinds, nsis_kinds = ["fw_ours", "fw_norecord", "fw_tiny"], []
            if self.chunked_only:
                kinds = [k for k in ("ours", "chunked") if self.setup[k].exists()]
                nsis_kinds = []
            timed = {k: [] for k in kinds + nsis_kinds + ["noop", "tiny"]}
            for i in range(runs):
                # Alternate, and reverse every other round so that drift in
                # the machine's load falls on every kind alike. NSIS goes
                # last: it deletes a temporary file as big as the payload
                # when it exits, and on a disk mounted with discard the run
                # after it would pay for that; the untimed runs below do.
                for kind in (kinds if i % 2 == 0 else kinds[::-1]) + nsis_kinds:
                    if kind in FIRST_WINDOW:
                        r = self.run_first_window(kind)
                    elif kind == "limit":
                        r = self.run_limit()
                    elif kind == "wizard":
                        r = self.run_wizard()
                    else:
                        r = self.run_setup(kind)
                    if kind in ("nsis", "fw_nsis"):
                        self.clean()  # untimed: the temporary file NSIS deleted, as below
                        time.sleep(2)
                    timed[kind].append(r)
                    extra = ""
                    if kind == "wizard":
                        extra = f" (whole process less the waits for clicks {r['process_seconds']:.3f} s)"
                    if kind.startswith("through"):
                        extra = (f" (spawn to the done page {r.get('done_seconds', float('nan')):.3f} s, "
                                 f"to its exit {r['process_seconds']:.3f} s)")
                    if kind == "limit":
                        p = r["probe"]
                        extra = (f" (read {p.get('read_ms', 0):.0f} ms, decode {p.get('decode_ms', 0):.0f} ms, "
                                 f"checksum {p.get('checksum_ms', 0):.0f} ms, write {p.get('write_ms', 0):.0f} ms)")
                    print(f"run {i + 1} {kind:12s} {r['seconds']:7.3f} s exit {r['code']} "
                          f"{'ok' if r['verified'] else 'FAILED'}{extra}", flush=True)
                self.clean()  # untimed: lets the filesystem settle after NSIS
                time.sleep(2)
                timed["noop"].append(self.wine.run([self.probe, "--noop"]))
                timed["noop"][-1]["verified"] = timed["noop"][-1]["code"] == 0
                timed["tiny"].append(self.run_tiny())
            if first_window_only:
                self.clean()
                return timed, {}, {}
            memory = {k: self.run_setup(k, memory=True) for k in ("ours", "chunked") if self.setup[k].exists()}
            memory["tiny"] = self.run_tiny(memory=True)
            decode = {n: [] for n in DECODE_THREADS}
            for _ in range(3):
                for n in DECODE_THREADS:
                    decode[n].append(self.run_decode_chunks(n))
            print("decode-chunks " + ", ".join(f"{n} threads {r.get('decode_ms', float('nan')):.0f} ms"
                                               for n, rs in decode.items() for r in rs), flush=True)
            profiles = {"decode_chunks": decode}
            if self.chunked_only:
                self.clean()
                return timed, memory, profiles
            if not self.x64:
                memory["nsis"] = self.run_setup("nsis", memory=True)
            for v in self.variants:
                memory[v["name"]] = self.run_setup(v["name"], memory=True)
            if profile:
                for name, options in PROBE_VARIANTS:
                    rs = [self.run_limit(*options) for _ in range(3)]
                    profiles[name] = rs
                    print(f"profile {name:16s} " + ", ".join(
                        f"decode {r['probe'].get('decode_ms', 0):.0f} write {r['probe'].get('write_ms', 0):.0f}"
                        for r in rs), flush=True)
            self.clean()
            return timed, memory, profiles
        finally:
            self.wine.stop_server()
            shutil.rmtree(self.attic, ignore_errors=True)
            self.xvfb.terminate()
            self.xvfb.wait()


def probe_figure(runs, key):
    return [r["probe"].get(key, float("nan")) for r in runs]


def cpu_model():
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor()


def tool_version(*cmd):
    return subprocess.run(cmd, capture_output=True, text=True).stdout.strip()


def lzma_build(win_build):
    """The liblzma the stub was linked with, and how it was configured."""
    prefix = None
    for line in (win_build / "CMakeCache.txt").read_text().splitlines():
        if line.startswith("LZMA_PREFIX:"):
            prefix = Path(line.split("=", 1)[1])
    info = {"prefix": str(prefix)}
    for name in ("options", "variant.txt"):
        if prefix and (prefix / name).exists():
            info["options"] = (prefix / name).read_text().strip()
    return info


def build_report(bench, timed, memory, profiles, started):
    inst = bench.installers
    seconds = {k: summary([r["seconds"] for r in rs]) for k, rs in timed.items() if k != "limit"}
    seconds["limit_process"] = summary([r["seconds"] for r in timed["limit"]])
    seconds["wizard_process"] = summary([r["process_seconds"] for r in timed["wizard"]])
    seconds["limit"] = summary([(r["probe"]["decode_ms"] + r["probe"]["write_ms"]) / 1000 for r in timed["limit"]])
    phases = {k: summary(probe_figure(timed["limit"], k + "_ms"))
              for k in ("open", "read", "decode", "checksum", "index", "write")}
    packed, unpacked = inst["ours"]["packed"], inst["ours"]["unpacked"]
    dictionary = inst["dictionary"]
    bound = packed + unpacked + dictionary
    baseline = (memory["tiny"].get("peak_kib") or 0) * 1024
    peaks = {k: (m.get("peak_kib") or 0) * 1024 for k, m in memory.items()}
    net = peaks["ours"] - baseline
    all_verified = all(r["verified"] for rs in timed.values() for r in rs) and \
        all(m["verified"] for m in memory.values())

    def paired(kind, other):
        # Runs of one round follow each other, so their ratio cancels most of
        # the drift in the machine's load; the median over rounds is robust.
        if other not in seconds:
            return None
        return statistics.median(a / b for a, b in zip(seconds[kind]["all"], seconds[other]["all"]))

    def of(a, b, key):
        return a[key] / b[key] if b else None

    def at_most(value, limit):
        return None if value is None else value <= limit  # None: NSIS not built or not run

    def ratios(kind):
        s = seconds[kind]
        return {"vs_nsis_paired": paired(kind, "nsis"), "vs_limit_paired": paired(kind, "limit"),
                "vs_nsis_median": of(s, seconds.get("nsis"), "median"),
                "vs_nsis_best": of(s, seconds.get("nsis"), "best"),
                "vs_limit_median": s["median"] / seconds["limit"]["median"],
                "vs_limit_best": s["best"] / seconds["limit"]["best"]}

    r_ours = ratios("ours")
    r_wizard = {"vs_silent_paired": paired("wizard", "ours"), "vs_nsis_gui_paired": paired("wizard", "nsis_gui"),
                "vs_silent_median": seconds["wizard"]["median"] / seconds["ours"]["median"],
                "vs_nsis_gui_median": of(seconds["wizard"], seconds.get("nsis_gui"), "median"),
                "vs_silent_best": seconds["wizard"]["best"] / seconds["ours"]["best"],
                "vs_nsis_gui_best": of(seconds["wizard"], seconds.get("nsis_gui"), "best")}
    nsis_built = "nsis" in inst
    size_ratio = inst["stub"]["bytes"] / inst["nsis_empty"]["bytes"] if nsis_built else None
    setup_ratio = inst["ours"]["bytes"] / inst["nsis"]["bytes"] if nsis_built else None
    kind = bench.payload.get("kind", "system")
    vs_nsis, vs_limit, wizard_vs_silent, allowance = GOALS[kind]
    goals = [
        {"goal": "silent vs NSIS /S (median of per-round ratios)", "value": r_ours["vs_nsis_paired"],
         "target": f"<= {vs_nsis:.2f}", "met": at_most(r_ours["vs_nsis_paired"], vs_nsis)},
        {"goal": "silent vs limit (median of per-round ratios)", "value": r_ours["vs_limit_paired"],
         "target": f"<= {vs_limit:.2f}", "met": r_ours["vs_limit_paired"] <= vs_limit},
        {"goal": "wizard install vs our silent process (median of per-round ratios)",
         "value": r_wizard["vs_silent_paired"], "target": f"<= {wizard_vs_silent:.2f}",
         "met": r_wizard["vs_silent_paired"] <= wizard_vs_silent},
        {"goal": "wizard install vs NSIS GUI (median of per-round ratios)", "value": r_wizard["vs_nsis_gui_paired"],
         "target": "<= 0.50", "met": at_most(r_wizard["vs_nsis_gui_paired"], 0.50)},
        {"goal": "peak memory above baseline", "value": net, "target": f"<= {bound + allowance:,} B",
         "met": 0 < net <= bound + allowance},
        {"goal": "setup file vs NSIS setup file", "value": setup_ratio, "target": "<= 1.00",
         "met": at_most(setup_ratio, 1.0)},
        {"goal": "stub vs NSIS empty installer", "value": size_ratio, "target": "<= 0.50",
         "met": at_most(size_ratio, 0.5)},
        {"goal": "stub size", "value": inst["stub"]["bytes"], "target": "<= 56,320 B",
         "met": inst["stub"]["bytes"] <= 56320},
    ]
    if bench.x64:
        # The shipped stub is 32-bit; the size goals are its own.
        goals = [g for g in goals if not g["goal"].startswith("stub ")]
    variants = []
    for v in bench.variants:
        size = v["stub_bytes"] / inst["nsis_empty"]["bytes"] if nsis_built else None
        variants.append(dict(v, ratios=ratios(v["name"]), size_ratio=size,
                             peak=peaks[v["name"]], net=peaks[v["name"]] - baseline))
    return {
        "started": started,
        "machine": {"cpu": cpu_model(), "cores": os.cpu_count(), "kernel": platform.release(), "x64": bench.x64,
                    "load_before": STARTED_LOAD, "load_after": os.getloadavg(),
                    "wine": tool_version(WINE64 if bench.x64 else "wine", "--version"),
                    "makensis": tool_version("makensis", "-VERSION")},
        "payload": dict({k: bench.payload[k] for k in ("files", "bytes", "digest")},
                        kind=bench.payload.get("kind", "system")),
        "liblzma": lzma_build(bench.win_build),
        "sizes": {"stub": inst["stub"]["bytes"], "nsis_empty": inst.get("nsis_empty", {}).get("bytes"),
                  "setup_ours": inst["ours"]["bytes"], "setup_nsis": inst.get("nsis", {}).get("bytes"),
                  "packed": packed, "unpacked": unpacked, "dictionary": dictionary},
        "runs": len(timed["ours"]),
        "storage": bench.storage,
        "all_verified": all_verified,
        "seconds": seconds,
        "limit_phases_ms": phases,
        "ratios": dict(r_ours, stub_vs_nsis_empty=size_ratio, wizard=r_wizard),
        "per_round": {name: [a / b for a, b in zip(seconds[kind]["all"], seconds[other]["all"])]
                      for name, kind, other in [("wizard_vs_silent", "wizard", "ours"),
                                                ("wizard_vs_nsis_gui", "wizard", "nsis_gui"),
                                                ("silent_vs_limit", "ours", "limit"),
                                                ("silent_vs_nsis", "ours", "nsis")] if other in seconds},
        "memory": {"ours_peak": peaks["ours"], "tiny_peak": baseline, "ours_net": net, "bound": bound,
                   "bound_plus_4mib": bound + 4 * MIB, "nsis_peak": peaks.get("nsis"),
                   "samples": memory["ours"].get("samples")},
        "goals": goals,
        "variants": variants,
        "profiles": {name: {"decode_ms": summary(probe_figure(rs, "decode_ms")),
                            "write_ms": summary(probe_figure(rs, "write_ms"))}
                     for name, rs in profiles.items()},
    }


def first_window_report(timed):
    """Medians and all runs of the first-window rows, and their goals as
    medians over rounds of the differences within each round."""
    kinds = [k for k in FIRST_WINDOW if timed.get(k)]
    rows = {k: summary([r["seconds"] for r in timed[k]]) for k in kinds}
    for k in kinds:
        if k.startswith("through"):
            rows[k + "_done"] = summary([r.get("done_seconds", float("nan")) for r in timed[k]])
            rows[k + "_exit"] = summary([r["process_seconds"] for r in timed[k]])

    per_round = {}

    def gap(a, b):
        per_round[f"{a} - {b}"] = [x - y for x, y in zip(rows[a]["all"], rows[b]["all"])]
        return statistics.median(per_round[f"{a} - {b}"])

    goals = []
    if "fw_nsis" in rows:
        goals.append({"goal": "first window: ours - NSIS with a licence page", "value": gap("fw_ours", "fw_nsis"),
                      "target": "<= 0.000 s"})
    goals.append({"goal": "first window: ours - our one-file package", "value": gap("fw_ours", "fw_tiny"),
                  "target": f"<= {FIRST_WINDOW_GOAL_SLACK:.3f} s"})
    if "fw_chunked" in rows:
        goals.append({"goal": "first window: ours chunked - our one-file package",
                      "value": gap("fw_chunked", "fw_tiny"), "target": f"<= {FIRST_WINDOW_GOAL_SLACK:.3f} s"})
    if "through_ours_done" in rows:
        goals.append({"goal": "wizard clicked through, spawn to done page: ours - ours without the record",
                      "value": gap("through_ours_done", "through_norecord_done"), "target": "<= 0.000 s"})
    for g in goals:
        g["met"] = g["value"] <= float(g["target"].split()[1])
    return {"seconds": rows, "goals": goals, "per_round": per_round}


FIRST_WINDOW_ROWS = [
    ("fw_ours", "ours: spawn to the wizard's window"),
    ("fw_norecord", "ours without the prefix record: spawn to the wizard's window"),
    ("fw_nsis", "NSIS with a licence page: spawn to its window"),
    ("fw_tiny", "ours with a one-file package: spawn to the wizard's window"),
    ("fw_chunked", "ours chunked: spawn to the wizard's window"),
    ("through_ours", "ours clicked through at once: spawn to the window"),
    ("through_ours_done", "ours clicked through at once: spawn to the done page"),
    ("through_ours_exit", "ours clicked through at once: spawn to its exit"),
    ("through_norecord", "without the record, clicked through at once: spawn to the window"),
    ("through_norecord_done", "without the record, clicked through at once: spawn to the done page"),
    ("through_norecord_exit", "without the record, clicked through at once: spawn to its exit"),
]


def first_window_markdown(fw):
    lines = ["", "| First window | best s | median s | all runs s |", "|---|---:|---:|---|"]
    for key, label in FIRST_WINDOW_ROWS:
        if key in fw["seconds"]:
            v = fw["seconds"][key]
            lines.append(f"| {label} | {v['best']:.3f} | {v['median']:.3f} | "
                         + ", ".join(f"{x:.3f}" for x in v["all"]) + " |")
    lines += ["", "| First-window goal (median over rounds) | measured | target | met |", "|---|---:|---|---|"]
    for g in fw["goals"]:
        lines.append(f"| {g['goal']} | {g['value']:+.3f} s | {g['target']} | {'yes' if g['met'] else 'NO'} |")
    for key, values in fw["per_round"].items():
        lines.append(f"| per round: {key} | " + ", ".join(f"{v:+.3f}" for v in values) + " | | |")
    return lines


def figure(value, form="{:.3f}"):
    return "not run" if value is None else form.format(value)


def markdown(rep):
    s = rep["seconds"]
    ph = rep["limit_phases_ms"]
    sz = rep["sizes"]
    m = rep["memory"]
    lines = [
        "# Install-speed benchmark",
        "",
        f"Payload ({rep['payload']['kind']}): {rep['payload']['files']} files, {rep['payload']['bytes']:,} bytes, "
        f"digest {rep['payload']['digest'][:16]}. {rep['runs']} runs of each, alternating, in one warm "
        f"Wine prefix, target on {rep['storage']}; every installed tree verified: "
        f"{'yes' if rep['all_verified'] else 'NO'}.",
        f"Machine: {rep['machine']['cpu']}, {rep['machine']['cores']} cores, load "
        f"{rep['machine']['load_before'][0]:.2f} before / {rep['machine']['load_after'][0]:.2f} after; "
        f"{rep['machine']['wine']}, makensis {rep['machine']['makensis']}.",
        f"liblzma: {rep['liblzma']['prefix']} ({rep['liblzma'].get('options', 'options unknown')}).",
    ]
    if rep["machine"].get("x64"):
        lines.append("This machine cannot run 32-bit x86 code: the 64-bit builds of the stub and the probes ran "
                     "under wine64, and NSIS, whose installers are 32-bit, did not run.")
    lines += [
        "",
        "| Installation | best s | median s | all runs s |",
        "|---|---:|---:|---|",
    ]
    rows = [("ours", "ours: `wine setup.exe /S` (whole process)"),
            ("wizard", "ours, wizard: from the Install click to the done page"),
            ("wizard_process", "ours, wizard: whole process less the waits for clicks"),
            ("nsis", "NSIS: `wine setup.exe /S /D=...` (whole process)"),
            ("nsis_gui", "NSIS GUI, instfiles page only (whole process)"),
            ("limit", "limit: decode + write, in-process"),
            ("limit_process", "limit probe, whole process"),
            ("tiny", "ours with a one-file package (fixed cost)"),
            ("noop", "Wine: start and exit of an empty program")]
    rows[5:5] = [(v["name"], f"variant `{v['name']}` (whole process)") for v in rep["variants"]]
    for key, label in rows:
        if key not in s:
            continue
        v = s[key]
        lines.append(f"| {label} | {v['best']:.3f} | {v['median']:.3f} | "
                     + ", ".join(f"{x:.2f}" for x in v["all"]) + " |")
    lines += ["", "| Limit phase (in-process) | best ms | median ms |", "|---|---:|---:|"]
    for k in ("open", "read", "decode", "checksum", "index", "write"):
        lines.append(f"| {k} | {ph[k]['best']:.1f} | {ph[k]['median']:.1f} |")
    lines += ["", "| Goal | measured | target | met |", "|---|---:|---|---|"]
    for g in rep["goals"]:
        value = figure(g["value"]) if not isinstance(g["value"], int) else f"{g['value']:,} B"
        met = "—" if g["met"] is None else "yes" if g["met"] else "NO"
        lines.append(f"| {g['goal']} | {value} | {g['target']} | {met} |")
    r = rep["ratios"]
    lines += ["", "| Ratio | per-round median | of medians | of bests |", "|---|---:|---:|---:|"]
    for key, label in [("nsis", "ours silent / NSIS /S"), ("limit", "ours silent / limit")]:
        lines.append(f"| {label} | {figure(r['vs_' + key + '_paired'])} | {figure(r['vs_' + key + '_median'])} | "
                     f"{figure(r['vs_' + key + '_best'])} |")
    for key, label in [("silent", "ours wizard / ours silent"), ("nsis_gui", "ours wizard / NSIS GUI")]:
        w = r["wizard"]
        lines.append(f"| {label} | {figure(w['vs_' + key + '_paired'])} | {figure(w['vs_' + key + '_median'])} | "
                     f"{figure(w['vs_' + key + '_best'])} |")
    lines += ["", "| Per round | " + " | ".join(str(i + 1) for i in range(rep["runs"])) + " |",
              "|---|" + "---:|" * rep["runs"]]
    for key, values in rep["per_round"].items():
        lines.append(f"| {key.replace('_', ' ')} | " + " | ".join(f"{v:.3f}" for v in values) + " |")
    if rep["variants"]:
        lines += ["", "| Variant | vs NSIS (per-round median) | vs limit (per-round median) | vs limit (of bests) "
                  "| stub bytes | peak above baseline |", "|---|---:|---:|---:|---:|---:|"]
        for v in rep["variants"]:
            vr = v["ratios"]
            lines.append(f"| {v['name']} | {figure(vr['vs_nsis_paired'])} | {vr['vs_limit_paired']:.3f} | "
                         f"{vr['vs_limit_best']:.3f} | {v['stub_bytes']:,} | {v['net']:,} |")
    lines += [
        "",
        "| Size | bytes |",
        "|---|---:|",
        f"| stub (setup-stub.exe) | {sz['stub']:,} |",
        f"| NSIS empty installer | {figure(sz['nsis_empty'], '{:,}')} |",
        f"| our setup file | {sz['setup_ours']:,} |",
        f"| NSIS setup file | {figure(sz['setup_nsis'], '{:,}')} |",
        f"| PackedSize / UnpackedSize / dictionary | {sz['packed']:,} / {sz['unpacked']:,} / {sz['dictionary']:,} |",
        "",
        "| Memory (VmHWM) | bytes |",
        "|---|---:|",
        f"| ours, payload | {m['ours_peak']:,} |",
        f"| ours, one-file package (baseline: Wine and the stub) | {m['tiny_peak']:,} |",
        f"| ours, payload minus baseline | {m['ours_net']:,} |",
        f"| PackedSize + UnpackedSize + dictionary | {m['bound']:,} |",
        f"| NSIS, payload | {figure(m['nsis_peak'], '{:,}')} |",
    ]
    lines += first_window_markdown(rep["first_window"])
    lines += chunked_markdown(rep["chunked"])
    if rep["profiles"]:
        lines += ["", "| Limit probe variant (3 runs) | decode median ms | write median ms |", "|---|---:|---:|"]
        for name, p in rep["profiles"].items():
            lines.append(f"| {name} | {p['decode_ms']['median']:.0f} | {p['write_ms']['median']:.0f} |")
    return "\n".join(lines) + "\n"


def chunked_report(bench, timed, memory, decode):
    """The chunked setup file against the single stream of the same payload
    and stub: silent install ratio, size ratio, peak memory against (decoders
    + 2) chunks + 64 MiB, decode rate per thread and a model for 8 cores."""
    inst = bench.installers
    c = inst["ours_chunked"]
    kind = bench.payload.get("kind", "system")
    time_goal, size_goal = CHUNKED_GOALS.get(kind, CHUNKED_DEFAULT_GOALS)
    seconds = {k: summary([r["seconds"] for r in timed[k]]) for k in ("ours", "chunked") if timed.get(k)}
    cores = os.cpu_count()
    decoders = max(1, min(cores, c["chunks"] - 1, MAX_DECODERS))
    bound = (decoders + 2) * c["largest_chunk"] + CHUNKED_ALLOWANCE
    baseline = (memory["tiny"].get("peak_kib") or 0) * 1024
    net = (memory["chunked"].get("peak_kib") or 0) * 1024 - baseline
    rep = {"decoders": decoders, "chunks": c["chunks"], "stored_chunks": c["stored_chunks"],
           "largest_chunk": c["largest_chunk"], "seconds": seconds,
           "memory": {"peak": (memory["chunked"].get("peak_kib") or 0) * 1024, "baseline": baseline, "net": net,
                      "bound": bound, "verified": memory["chunked"]["verified"]},
           "sizes": {"chunked": c["bytes"], "single": inst.get("ours", {}).get("bytes"),
                     "payload": bench.payload["bytes"]}}
    goals = []
    if "ours" in seconds:
        ratio = statistics.median(a / b for a, b in zip(seconds["chunked"]["all"], seconds["ours"]["all"]))
        rep["silent_vs_single_paired"] = ratio
        if time_goal:
            goals.append({"goal": "silent install: chunked / single stream (median of per-round ratios)",
                          "value": ratio, "target": f"<= {time_goal:.2f}", "met": ratio <= time_goal})
        size = c["bytes"] / inst["ours"]["bytes"]
        rep["size_vs_single"] = size
        if size_goal:
            goals.append({"goal": "setup file: chunked / single stream", "value": size,
                          "target": f"<= {size_goal:.3f}", "met": size <= size_goal})
    if kind == "random":
        size = c["bytes"] / bench.payload["bytes"]
        goals.append({"goal": "setup file / payload", "value": size, "target": f"<= {RANDOM_SETUP_VS_PAYLOAD}",
                      "met": size <= RANDOM_SETUP_VS_PAYLOAD})
    goals.append({"goal": "peak memory above baseline, installed tree matching", "value": net,
                  "target": f"<= {bound:,} B", "met": 0 < net <= bound and memory["chunked"]["verified"]})
    rates = {}
    for n, runs in decode.items():
        ms = [r["decode_ms"] for r in runs if "decode_ms" in r]
        if ms:
            best = min(ms)
            rates[n] = {"decode_ms": summary(ms), "mb_per_s_per_thread": runs[0]["bytes"] / best / 1e3 / n,
                        "bytes": runs[0]["bytes"]}
    rep["decode"] = rates
    top = max(rates) if rates else None
    if top and "chunked" in seconds:
        # Model: the silent run less its decoding on this machine's decoders
        # plus the decoding on 8, each at the per-thread rate measured with
        # the most threads here; writing (the limit probe's) overlaps both.
        per_thread = rates[top]["mb_per_s_per_thread"] * 1e6
        write = statistics.median(r["probe"]["write_ms"] for r in timed["limit"]) / 1000 if timed.get("limit") else 0
        here = rates[top]["bytes"] / (per_thread * min(decoders, top))
        eight = rates[top]["bytes"] / (per_thread * max(1, min(MAX_DECODERS, c["chunks"] - 1)))
        rep["model_8_cores"] = {"silent_s": seconds["chunked"]["median"] - max(here, write) + max(eight, write),
                                "decode_s_here": here, "decode_s_8": eight, "write_s": write}
    rep["goals"] = goals
    return rep


def chunked_markdown(ch):
    lines = ["", f"Chunked: {ch['chunks']} chunks ({ch['stored_chunks']} stored), the largest "
                 f"{ch['largest_chunk']:,} bytes; {ch['decoders']} decoders here.",
             "", "| Chunked against single stream | best s | median s | all runs s |", "|---|---:|---:|---|"]
    for key, label in (("ours", "single stream: `wine setup.exe /S`"), ("chunked", "chunked: `wine setup.exe /S`")):
        if key in ch["seconds"]:
            v = ch["seconds"][key]
            lines.append(f"| {label} | {v['best']:.3f} | {v['median']:.3f} | "
                         + ", ".join(f"{x:.2f}" for x in v["all"]) + " |")
    lines += ["", "| Decode of the chunks after the prefix (in-process, 3 runs) | best ms | MB/s per thread |",
              "|---|---:|---:|"]
    for n, r in ch["decode"].items():
        lines.append(f"| {n} thread{'s' if n != 1 else ''} | {r['decode_ms']['best']:.0f} | "
                     f"{r['mb_per_s_per_thread']:.1f} |")
    if "model_8_cores" in ch:
        mo = ch["model_8_cores"]
        lines.append(f"| model, 8 cores: decode {mo['decode_s_8']:.2f} s (here {mo['decode_s_here']:.2f} s), "
                     f"writes {mo['write_s']:.2f} s, silent install | {mo['silent_s'] * 1000:.0f} | |")
    m = ch["memory"]
    sz = ch["sizes"]
    lines += ["", "| Chunked: size and memory | bytes |", "|---|---:|",
              f"| setup file, chunked | {sz['chunked']:,} |",
              f"| setup file, single stream | {figure(sz['single'], '{:,}')} |",
              f"| payload | {sz['payload']:,} |",
              f"| peak (VmHWM), chunked | {m['peak']:,} |",
              f"| peak minus baseline | {m['net']:,} |",
              f"| (decoders + 2) x largest chunk + 64 MiB | {m['bound']:,} |",
              "", "| Chunked goal | measured | target | met |", "|---|---:|---|---|"]
    for g in ch["goals"]:
        value = figure(g["value"]) if not isinstance(g["value"], int) else f"{g['value']:,} B"
        lines.append(f"| {g['goal']} | {value} | {g['target']} | {'yes' if g['met'] else 'NO'} |")
    return lines


def chunked_only_report(bench, timed, memory, decode, started):
    ch = chunked_report(bench, timed, memory, decode)
    verified = all(r["verified"] for rs in timed.values() for r in rs) and \
        all(m["verified"] for m in memory.values())
    text = ["# Chunked packages", "",
            f"Payload ({bench.payload.get('kind')}): {bench.payload['files']} files, {bench.payload['bytes']:,} "
            f"bytes, digest {bench.payload['digest'][:16]}; packed at level "
            f"{bench.installers.get('level') if bench.installers.get('level') is not None else 'default'}; "
            f"{len(timed['chunked'])} runs, target on {bench.storage}, load {STARTED_LOAD[0]:.2f} before / "
            f"{os.getloadavg()[0]:.2f} after; every installed tree verified: {'yes' if verified else 'NO'}."]
    text += chunked_markdown(ch)
    return {"started": started, "payload": {k: bench.payload[k] for k in ("files", "bytes", "digest")},
            "all_verified": verified, "chunked": ch, "text": text}


def first_window_only_report(bench, timed, started):
    inst = bench.installers
    fw = first_window_report(timed)
    verified = all(r["verified"] for rs in timed.values() for r in rs)
    level = inst.get("level")
    text = ["# First window", "",
            f"Payload ({bench.payload.get('kind', 'system')}): {bench.payload['files']} files, "
            f"{bench.payload['bytes']:,} bytes; our setup file {inst['ours']['bytes']:,} bytes "
            f"(without the record {inst['ours_norecord']['bytes']:,}), packed at level "
            f"{level if level is not None else 'default'}; {len(timed['fw_ours'])} runs, load "
            f"{STARTED_LOAD[0]:.2f} before / {os.getloadavg()[0]:.2f} after; all runs as expected: "
            f"{'yes' if verified else 'NO'}."]
    text += first_window_markdown(fw)
    return {"started": started, "payload": {k: bench.payload[k] for k in ("files", "bytes", "digest")},
            "sizes": {"setup_ours": inst["ours"]["bytes"], "setup_ours_norecord": inst["ours_norecord"]["bytes"]},
            "level": level, "all_verified": verified, "first_window": fw, "text": text,
            "runs": {k: [{"seconds": r["seconds"], "code": r.get("code")} for r in rs] for k, rs in timed.items()}}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", type=Path, required=True)
    ap.add_argument("--win-build", type=Path, required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--profile", action="store_true", help="also time the limit probe's variants")
    ap.add_argument("--storage", choices=["disk", "tmpfs"], default="disk",
                    help="where the installations write: the prefix's disk, or RAM (steadier on a busy machine)")
    ap.add_argument("--variant", action="append", default=[], metavar="NAME=STUB.exe",
                    help="another stub to time with the same package")
    ap.add_argument("--x64", action="store_true",
                    help="the 64-bit builds of the stub and the probes, under wine64, and no NSIS (for machines "
                         "that cannot run 32-bit code)")
    ap.add_argument("--chunked-only", action="store_true",
                    help="only the chunked setup file against the single stream (when packed): silent runs, "
                         "memory and decode rates (the random and huge payloads)")
    ap.add_argument("--first-window-only", action="store_true",
                    help="only the first window of ours with and without the record and of the one-file package")
    args = ap.parse_args()
    started = time.strftime("%Y-%m-%dT%H:%M:%S")
    bench = Bench(args)
    timed, memory, profiles = bench.measure(args.runs, args.profile, args.first_window_only)
    decode = profiles.pop("decode_chunks", {})
    if args.chunked_only:
        report = chunked_only_report(bench, timed, memory, decode, started)
        (bench.work / "report.json").write_text(json.dumps(report, indent=1) + "\n")
        text = "\n".join(report.pop("text")) + "\n"
        (bench.work / "report.md").write_text(text)
        print(text)
        return 0 if report["all_verified"] else 1
    if args.first_window_only:
        report = first_window_only_report(bench, timed, started)
        (bench.work / "report.json").write_text(json.dumps(report, indent=1) + "\n")
        text = "\n".join(report.pop("text")) + "\n"
        (bench.work / "report.md").write_text(text)
        print(text)
        return 0 if report["all_verified"] else 1
    report = build_report(bench, timed, memory, profiles, started)
    report["first_window"] = first_window_report(timed)
    report["chunked"] = chunked_report(bench, timed, memory, decode)
    (bench.work / "report.json").write_text(json.dumps(report, indent=1) + "\n")
    text = markdown(report)
    (bench.work / "report.md").write_text(text)
    print(text)
    return 0 if report["all_verified"] else 1


if __name__ == "__main__":
    sys.exit(main())
