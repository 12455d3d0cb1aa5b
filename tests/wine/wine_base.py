"""What the Wine tests and the benchmark share: an Xvfb display, the
environment Wine runs in, prefixes booted once and marked ready, and the
mapping between host paths and Windows paths."""
import fcntl
import os
import shutil
import subprocess
import time
from pathlib import Path


def start_xvfb(numbers, screen):
    """(DISPLAY value, process) of a new Xvfb on the first free display
    number among numbers; screen is its geometry, e.g. "1280x1024x24"."""
    for n in numbers:
        socket = f"/tmp/.X11-unix/X{n}"
        if os.path.exists(socket) or os.path.exists(f"/tmp/.X{n}-lock"):
            continue
        proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", screen, "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(50):
            if os.path.exists(socket):
                return f":{n}", proc
            if proc.poll() is not None:
                break
            time.sleep(0.1)
        if proc.poll() is None:
            proc.terminate()
            proc.wait()
    raise RuntimeError("no free X display")


WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"


def wine64_shims(folder):
    """folder, holding a wine and a wineboot that start wine64 directly: the
    usual launcher goes through the 32-bit loader, which some machines cannot
    run."""
    if not (folder / "wineboot").exists():
        folder.mkdir(parents=True, exist_ok=True)
        for name, command in (("wine", WINE64), ("wineboot", f"{WINE64} wineboot")):
            (folder / name).write_text(f'#!/bin/sh\nexec {command} "$@"\n')
            (folder / name).chmod(0o755)
    return folder


def wine_env(display):
    """The host's environment with what every Wine process here needs."""
    env = dict(os.environ)
    env["DISPLAY"] = display
    env["WINEDEBUG"] = "-all"
    # No Mono or Gecko installers during wineboot (there is no network), and
    # no desktop-menu entries for the shortcuts an installation makes: that
    # is Wine's work, not the installer's.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
    return env


def boot_prefix(path, env, wineboot=("wineboot",), prepare=None, timeout=300):
    """Boots the prefix at path unless an earlier call, in any process, has
    finished it. prepare(env) may change the fresh prefix before it is
    marked ready. Returns path."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(str(path) + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (path / ".ready").exists():
            # A prefix without the mark is what an interrupted boot left.
            shutil.rmtree(path, ignore_errors=True)
            env = dict(env, WINEPREFIX=str(path))
            subprocess.run([*wineboot, "-i"], env=env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
            if prepare:
                prepare(env)
            subprocess.run(["wineserver", "-w"], env=env, timeout=timeout)
            (path / ".ready").touch()
    return path


def replace_home_links(drive_c):
    """Wine links each user's Desktop, Documents and the like to the host's
    home folder; folders inside the prefix take their place, so that what an
    installation puts there stays in the prefix."""
    for user in (Path(drive_c) / "users").iterdir():
        if not user.is_dir() or user.is_symlink():
            continue
        for entry in user.iterdir():
            if entry.is_symlink():
                entry.unlink()
                entry.mkdir()


class Prefix:
    """A Wine prefix at path, run with env."""

    def __init__(self, path, env):
        self.path = Path(path)
        self.env = dict(env, WINEPREFIX=str(self.path))

    @property
    def drive_c(self):
        return self.path / "drive_c"

    def host(self, win_path):
        """Host path of a C:\\ path inside this prefix."""
        assert win_path[1:3] == ":\\" and win_path[0].upper() == "C", win_path
        return self.drive_c.joinpath(*[p for p in win_path[3:].split("\\") if p])

    @staticmethod
    def win(host_path):
        """Windows path (Z:) of any host path."""
        return "Z:" + str(Path(host_path).resolve()).replace("/", "\\")
