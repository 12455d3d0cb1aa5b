"""A warm Wine prefix for the benchmark: one Xvfb display, one persistent
wineserver, processes timed from start to exit."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "wine"))
import wine_base  # noqa: E402


def start_xvfb():
    """(display, process) of a new Xvfb on a free display number, above the
    numbers the Wine tests take."""
    return wine_base.start_xvfb(range(500, 700), "1024x768x24")


def read_hwm_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace")
    except OSError:
        return ""


class MemoryPoller(threading.Thread):
    """Polls VmHWM of the process whose command line names exe_name: the
    started process itself once Wine has turned into the program, else a
    process found among its descendants."""

    def __init__(self, proc, exe_name, interval=0.003):
        super().__init__(daemon=True)
        self.proc = proc
        self.exe_name = exe_name.lower()
        self.interval = interval
        self.peak_kib = None
        self.pid = None
        self.samples = 0

    def _find(self):
        if self.exe_name in cmdline(self.proc.pid).lower():
            return self.proc.pid
        for entry in os.listdir("/proc"):
            if entry.isdigit() and self.exe_name in cmdline(entry).lower() and "wine" in cmdline(entry).lower():
                return int(entry)
        return None

    def run(self):
        last_scan = 0.0
        while self.proc.poll() is None:
            if self.pid is None and time.monotonic() - last_scan > 0.02:
                last_scan = time.monotonic()
                self.pid = self._find()
            if self.pid is not None:
                hwm = read_hwm_kib(self.pid)
                if hwm is not None:
                    self.samples += 1
                    self.peak_kib = max(self.peak_kib or 0, hwm)
            time.sleep(self.interval)


class WinePrefix(wine_base.Prefix):
    """The benchmark's prefix, kept between runs: 32-bit, or with x64 a
    64-bit one for the 64-bit builds of the stub and the probes."""

    def __init__(self, path, display, x64=False):
        env = wine_base.wine_env(display)
        env["WINEARCH"] = "win64" if x64 else "win32"
        path = Path(path).resolve()
        if x64:
            env["PATH"] = f"{wine_base.wine64_shims(path.parent / 'wine64-shims')}:{env.get('PATH', '')}"
        super().__init__(path, env)
        self.server_started = False

    def ensure(self):
        wine_base.boot_prefix(self.path, self.env, timeout=600)
        wine_base.replace_home_links(self.drive_c)

    TMPFS_ROOT = Path("/dev/shm/setupstub-bench")

    @classmethod
    def for_storage(cls, work, mode, display, x64=False):
        """The prefix for --storage mode: under work for "disk"; for "tmpfs"
        the whole prefix lives in RAM, which keeps other programs' disk
        traffic out of the figures. C:\\bench may not be a link into RAM:
        the stub refuses to install through a link, and Wine shows a host
        symlink as one."""
        name = "prefix64" if x64 else "prefix"
        if mode == "tmpfs":
            return cls(cls.TMPFS_ROOT / Path(work).resolve().name / name, display, x64)
        return cls(Path(work) / name, display, x64)

    def clear_bench_folder(self):
        """C:\\bench as an empty plain folder (earlier versions of this
        script left a link there)."""
        place = self.drive_c / "bench"
        if place.is_symlink():
            place.unlink()
        shutil.rmtree(place, ignore_errors=True)
        place.mkdir()

    def start_server(self):
        # A persistent server keeps the prefix warm: every timed process
        # starts against a running wineserver and services.
        # A server left behind by an interrupted run of ours would refuse -p.
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, timeout=60)
        self.server_started = True
        self.run(["wineboot"], timeout=300)

    def stop_server(self):
        if self.server_started:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=60)
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)
            self.server_started = False

    def start(self, args):
        """Starts wine ARGS for finish(), for a program driven meanwhile."""
        out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        proc = subprocess.Popen(["wine", *map(str, args)], env=self.env, stdout=out, stderr=err,
                                stdin=subprocess.DEVNULL)
        proc.bench_files, proc.bench_started = (out, err), time.perf_counter()
        return proc

    def finish(self, proc, timeout=600):
        """Waits for a started process: code, seconds (from its start), stdout, stderr."""
        proc.wait(timeout=timeout)
        seconds = time.perf_counter() - proc.bench_started
        texts = []
        for f in proc.bench_files:
            f.seek(0)
            texts.append(f.read().decode(errors="replace"))
            f.close()
        return {"code": proc.returncode, "seconds": seconds, "stdout": texts[0], "stderr": texts[1]}

    def kill(self, proc):
        proc.kill()
        self.finish(proc, 60)

    def run(self, args, timeout=600, memory_of=None):
        """Runs wine ARGS; returns a dict with code, seconds (wall time from
        start to exit), stdout, stderr and, with memory_of, peak_kib."""
        # Files, not pipes: a process may leave Wine's services running with
        # inherited handles, and a pipe would then never reach its end.
        poller = None
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            t0 = time.perf_counter()
            proc = subprocess.Popen(["wine", *map(str, args)], env=self.env, stdout=out, stderr=err,
                                    stdin=subprocess.DEVNULL)
            if memory_of:
                poller = MemoryPoller(proc, memory_of)
                poller.start()
            # A blocking wait: Popen.wait with a timeout polls with sleeps of up
            # to 50 ms, which would round every time up by as much.
            watchdog = threading.Timer(timeout, proc.kill)
            watchdog.start()
            proc.wait()
            seconds = time.perf_counter() - t0
            watchdog.cancel()
            if proc.returncode == -9 and not watchdog.is_alive() and seconds >= timeout:
                raise subprocess.TimeoutExpired(args, timeout)
            out.seek(0)
            err.seek(0)
            result = {"code": proc.returncode, "seconds": seconds,
                      "stdout": out.read().decode(errors="replace"), "stderr": err.read().decode(errors="replace")}
        if poller:
            poller.join()
            result["peak_kib"] = poller.peak_kib
            result["samples"] = poller.samples
        return result
