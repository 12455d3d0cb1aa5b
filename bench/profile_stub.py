#!/usr/bin/env python3
"""Where the stub's silent installation spends its time: builds a copy of
the stub with timestamps at its phase boundaries (a private copy of the
sources under build/bench/stub-profile; the project's files are not
touched), joins it to the benchmark's package and runs it under Wine.

    profile_stub.py [--work build/bench] [--runs 5] [--storage tmpfs]

Phases: start (Wine process start to the stub's entry), read (the whole
compressed block), decode, checksum, index, prepare (target directory,
running copies), files, shortcuts, register, exit (ExitProcess to the end
of the Wine process).
"""
import argparse
import os
import json
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench_lib  # noqa: E402
from wine_env import WinePrefix, start_xvfb  # noqa: E402

ROOT = Path(__file__).resolve().parents[1]

MARKS_SOURCE = r'''// Phase timestamps for the benchmark's profile build only.
#include <windows.h>
static LARGE_INTEGER Marks[32];
static const char* Names[32];
static int Count;
extern "C" void BenchMark(const char* name) {
  if (Count < 32) { QueryPerformanceCounter(&Marks[Count]); Names[Count++] = name; }
}
extern "C" void BenchDump() {
  BenchMark("exit");
  WCHAR path[260];
  if (!GetEnvironmentVariableW(L"BENCH_MARKS", path, 260)) return;
  HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  LARGE_INTEGER freq; QueryPerformanceFrequency(&freq);
  char line[128]; DWORD n;
  for (int i = 0; i < Count; ++i) {
    // ticks of 100 ns, as QueryPerformanceCounter counts under Wine
    int len = wsprintfA(line, "%s %I64d %I64d\n", Names[i], Marks[i].QuadPart, freq.QuadPart);
    WriteFile(f, line, len, &n, nullptr);
  }
  CloseHandle(f);
}
'''

DECL = 'extern "C" void BenchMark(const char*);\nextern "C" void BenchDump();\n'

# (file, anchor, replacement); every anchor must exist exactly once.
PATCHES = [
    ("startup/process_entry_win32.cpp", "  RestrictDllSearch();", '  BenchMark("entry");\n  RestrictDllSearch();'),
    ("startup/process_entry_win32.cpp", "  ExitProcess(static_cast<UINT>(SetupMain(GetModuleHandleA(nullptr), tail)));",
     "  UINT code = static_cast<UINT>(SetupMain(GetModuleHandleA(nullptr), tail));\n  BenchDump();\n"
     "  ExitProcess(code);"),
    ("package/package_loader.cpp",
     "  uint32_t got = source->Read(source->Context, trailerAt - trailer.PackedSize, packed, trailer.PackedSize);",
     '  BenchMark("alloc");\n'
     "  uint32_t got = source->Read(source->Context, trailerAt - trailer.PackedSize, packed, trailer.PackedSize);\n"
     '  BenchMark("read");'),
    ("package/package_loader.cpp",
     "  uint32_t produced = DecodeBlock(packed, got, out->Block, out->BlockSize);",
     "  uint32_t produced = DecodeBlock(packed, got, out->Block, out->BlockSize);\n  BenchMark(\"decode\");"),
    ("package/package_loader.cpp",
     "  if (!IndexBlock(out, osClass, archClass)) {",
     '  BenchMark("checksum");\n  bool indexed = IndexBlock(out, osClass, archClass);\n  BenchMark("index");\n'
     "  if (!indexed) {"),
    ("startup/silent_install_win32.cpp", "  return RunInstall(nullptr, path, namePosition, 1);",
     '  BenchMark("prepare");\n  return RunInstall(nullptr, path, namePosition, 1);'),
    ("install/install_run_win32.cpp", "  if (window) SetTimer(window, PROGRESS_TIMER_ID, PROGRESS_TIMER_MS, ProgressTimerProc);",
     '  BenchMark("files");\n  if (window) SetTimer(window, PROGRESS_TIMER_ID, PROGRESS_TIMER_MS, ProgressTimerProc);'),
    ("install/install_run_win32.cpp", "  RegisterUninstall(path, namePosition, window);",
     '  BenchMark("shortcuts");\n  RegisterUninstall(path, namePosition, window);\n  BenchMark("register");'),
]


def make_source(dest):
    """A copy of the stub's sources in dest, with the phase marks."""
    shutil.rmtree(dest, ignore_errors=True)
    dest.mkdir(parents=True)
    for item in ["CMakeLists.txt", "CMakePresets.json", "cmake", "startup", "package", "env", "ui", "install",
                 "resources", "sample"]:
        src = ROOT / item
        (shutil.copytree if src.is_dir() else shutil.copy2)(src, dest / item)
    for rel, anchor, replacement in PATCHES:
        path = dest / rel
        text = path.read_text()
        if text.count(anchor) != 1:
            sys.exit(f"profile: anchor not found once in {rel}: {anchor.strip()[:60]}")
        path.write_text(DECL + text.replace(anchor, replacement))
    (dest / "startup" / "bench_marks_win32.cpp").write_text(MARKS_SOURCE)


def build(src, out, lzma=ROOT / "build" / "mingw-lzma"):
    subprocess.run(["cmake", "--preset", "win", "-S", src, "-B", out, f"-DLZMA_PREFIX={lzma}"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", out, "-j2", "--target", "setup"], check=True, stdout=subprocess.DEVNULL)
    return out / "setup-stub.exe"


def phases(marks, started_ticks, ended_ticks):
    """Durations in ms between consecutive marks, plus start and exit."""
    names = [m[0] for m in marks]
    ticks = [m[1] for m in marks]
    freq = marks[0][2]
    out = {"start": (ticks[0] - started_ticks) * 1000 / freq}
    labels = {"alloc": "load_setup", "read": "read", "decode": "decode", "checksum": "checksum", "index": "index",
              "prepare": "prepare", "files": "files", "shortcuts": "shortcuts", "register": "register",
              "exit": "teardown"}
    for i in range(1, len(names)):
        out[labels.get(names[i], names[i])] = (ticks[i] - ticks[i - 1]) * 1000 / freq
    out["exit"] = (ended_ticks - ticks[-1]) * 1000 / freq
    return out


def run_once(wine, setup, marks_file, target, product, payload):
    shutil.rmtree(target, ignore_errors=True)
    wine.run(["reg", "delete", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product, "/f"])
    marks_file.unlink(missing_ok=True)
    os.sync()
    started = time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW) // 100
    r = wine.run([setup, "/S"])
    ended = started + int(r["seconds"] * 1e7)
    marks = [(n, int(t), int(f)) for n, t, f in (line.split() for line in marks_file.read_text().splitlines())]
    digest, files, _ = bench_lib.tree_digest(target)
    p = phases(marks, started, ended)
    p["total"] = r["seconds"] * 1000
    p["verified"] = digest == payload["digest"] and files == payload["files"]
    return p


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", type=Path, default=ROOT / "build" / "bench")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--storage", choices=["disk", "tmpfs"], default="disk")
    args = ap.parse_args()
    work = args.work.resolve()
    package = (work / "setup-ours.package.bin").read_bytes()
    base = work / "stub-profile"
    make_source(base / "src")
    stub = build(base / "src", base / "build")
    setup = base / "setup-profile.exe"
    setup.write_bytes(stub.read_bytes() + package)
    variants = [("stub-profile", setup, stub.stat().st_size)]
    payload = json.loads((work / "payload" / "payload.json").read_text())
    installers = json.loads((work / "installers.json").read_text())

    display, xvfb = start_xvfb()
    wine = WinePrefix(work / "prefix", display)
    wine.ensure()
    wine.use_storage(args.storage)
    wine.start_server()
    marks_file = work / "marks.txt"
    wine.env["BENCH_MARKS"] = wine.win(marks_file)
    results = {name: [] for name, _, _ in variants}
    probe = ROOT / "build" / "bench-win" / "limit_probe.exe"
    limit = []
    try:
        target = wine.host(installers["target"])
        for i in range(args.runs):
            order = variants if i % 2 == 0 else variants[::-1]
            for name, setup, _ in order:
                p = run_once(wine, setup, marks_file, target, installers["product"], payload)
                results[name].append(p)
                print(f"run {i + 1} {name}: " + ", ".join(f"{k} {v:.0f}" for k, v in p.items() if k != "verified")
                      + f" {'ok' if p['verified'] else 'WRONG TREE'}", flush=True)
            if probe.exists():
                shutil.rmtree(target, ignore_errors=True)
                os.sync()
                r = wine.run([probe, wine.win(work / "setup-ours.exe"), installers["target"]])
                limit.append(json.loads(r["stdout"].strip().splitlines()[-1]))
                print(f"run {i + 1} limit probe: {limit[-1]}", flush=True)
    finally:
        wine.stop_server()
        wine.use_storage("disk")
        xvfb.terminate()
        xvfb.wait()
    keys = [k for k in results[variants[0][0]][0] if k != "verified"]
    summary = {name: {k: {"median": statistics.median(r[k] for r in rs), "best": min(r[k] for r in rs)}
                      for k in keys} for name, rs in results.items()}
    header = "| Stub phase | " + " | ".join(f"{n} median ms | best ms" for n, _, _ in variants) + " |"
    lines = [header, "|---|" + "---:|---:|" * len(variants)]
    for k in keys:
        lines.append(f"| {k} | " + " | ".join(f"{summary[n][k]['median']:.0f} | {summary[n][k]['best']:.0f}"
                                              for n, _, _ in variants) + " |")
    lines.append("| stub bytes | " + " | ".join(f"{size:,} | " for _, _, size in variants) + " |")
    if limit:
        lines.append("")
        lines.append("Limit probe in the same rotation (median ms): " + ", ".join(
            f"{k[:-3]} {statistics.median(l[k] for l in limit):.0f}" for k in limit[0] if k.endswith("_ms")))
    text = "\n".join(lines) + "\n"
    (work / "profile.md").write_text(text)
    (work / "profile.json").write_text(json.dumps({"runs": results, "summary": summary}, indent=1) + "\n")
    print(text)


if __name__ == "__main__":
    main()
