"""Drives the wizard of a running setup under Wine through wizard_probe.exe
(and, for real input, xdotool), for the test_wizard_* tests."""
import os
import signal
import struct
import subprocess
import sys
import time
from pathlib import Path

import harness

sys.path.insert(0, str(harness.ROOT / "resources"))
import dialog_ids  # noqa: E402

# Control ids of the wizard dialog, as the stub defines them.
_ID = dialog_ids.read()
NEXT, CANCEL, BACK = _ID["IDC_NEXT"], _ID["IDC_CANCEL"], _ID["IDC_BACK"]
BAND, TITLE, SUBTITLE = _ID["IDC_HEADER_BAND"], _ID["IDC_TITLE"], _ID["IDC_SUBTITLE"]
BROWSE, ACCEPT, DESKTOP, LAUNCH = _ID["IDC_BROWSE"], _ID["IDC_ACCEPT"], _ID["IDC_DESKTOP_SHORTCUT"], _ID["IDC_LAUNCH"]
DIR_EDIT, PROGRESS, ICON = _ID["IDC_DIR_EDIT"], _ID["IDC_PROGRESS"], _ID["IDC_HEADER_ICON"]
FRAME, PANE = _ID["IDC_TEXT_FRAME"], _ID["IDC_RICHTEXT"]

UNINSTALL_KEY = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Sample"
SCREENSHOTS = harness.NATIVE_BUILD / "wizard-screenshots"


def manifest(license=None, extra_product="", files=None):
    """The sample product's manifest; files is a list of (source, extra TOML)."""
    text = ('[product]\nname = "Sample"\nversion = "1.0"\npublisher = "Sample Publisher"\n'
            'main_program = "Sample.exe"\n' + extra_product)
    if license:
        text += f'\n[package]\nlicense = "{license}"\n'
    for source, more in files or []:
        text += f'\n[[file]]\nsource = "{source}"\n{more}'
    return text


def gui_program(data):
    """A console program's image marked as a GUI program, so that Wine
    starts it without a console window over the wizard."""
    image = bytearray(data)
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    struct.pack_into("<H", image, pe + 24 + 68, 2)  # IMAGE_SUBSYSTEM_WINDOWS_GUI
    return bytes(image)


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"\\": "\\", "t": "\t", "r": "\r", "n": "\n"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


class Control:
    def __init__(self, fields):
        self.id = int(fields[0])
        self.cls = fields[1]
        self.visible = fields[2] == "1"
        self.enabled = fields[3] == "1"
        self.checked = int(fields[4])
        self.text = unescape(fields[5]) if len(fields) > 5 else ""

    def __repr__(self):
        return (f"<{self.id} {self.cls} vis={self.visible} en={self.enabled} "
                f"chk={self.checked} {self.text!r}>")


class State:
    """One reading of the wizard: caption, controls by id, focus, progress bar."""

    def __init__(self, output):
        self.caption = None
        self.controls = {}
        self.focus = None
        self.progress = None
        for line in output.splitlines():
            fields = line.split("\t")
            if fields[0] == "dialog":
                self.caption = unescape(fields[2])
            elif fields[0] == "control" and fields[1] != "-1":
                c = Control(fields[1:])
                self.controls[c.id] = c
            elif fields[0] == "focus":
                self.focus = int(fields[1])
            elif fields[0] == "progress":
                self.progress = dict(pos=int(fields[1]), low=int(fields[2]), high=int(fields[3]),
                                     colour=int(fields[4], 16), pixel=int(fields[5], 16),
                                     state=int(fields[6]), far_pixel=int(fields[7], 16))

    def __getitem__(self, cid):
        return self.controls[cid]

    def visible_ids(self):
        return {c.id for c in self.controls.values() if c.visible}

    @property
    def title(self):
        return self.controls[TITLE].text

    @property
    def subtitle(self):
        return self.controls[SUBTITLE].text

    def __repr__(self):
        return f"State({self.caption!r}, {sorted(self.controls.values(), key=lambda c: c.id)})"


class Wizard:
    """A setup started in prefix and the probe that watches its wizard."""

    def __init__(self, prefix, setup, *args, cwd=None, debug=None):
        self.prefix = prefix
        self.proc = prefix.start(setup, *args, cwd=cwd, debug=debug)
        r = self.probe("find", "60000")
        if r.code != 0:
            self.prefix.kill()
            raise AssertionError("the wizard did not appear: " + r.stdout)

    def probe(self, *args, timeout=360):
        return self.prefix.tool("wizard_probe", *args, timeout=timeout)

    def state(self):
        return State(self.probe("state").stdout)

    def wait_for(self, predicate, timeout=60, what="the wizard's state"):
        deadline = time.time() + timeout
        while True:
            s = self.state()
            if s.caption is not None and predicate(s):
                return s
            if time.time() > deadline:
                raise AssertionError(f"timed out waiting for {what}: {s}")
            time.sleep(0.3)

    def click(self, cid, wait=True):
        """True when clicked; False when the probe refused (hidden or disabled)."""
        r = self.probe("click" if wait else "post-click", str(cid))
        return r.code == 0

    def command(self, cid, code=0):
        assert self.probe("command", str(cid), str(code)).code == 0

    def type(self, cid, text):
        r = self.probe("type", str(cid), text)
        assert r.code == 0, r.stdout
        return unescape(r.stdout.split("\t", 1)[1].rstrip("\n"))

    def pane(self):
        out = self.probe("pane").stdout
        for line in out.splitlines():
            if line.startswith("pane\t"):
                return unescape(line[5:])
        return None

    def pane_class(self):
        for line in self.probe("pane").stdout.splitlines():
            if line.startswith("paneclass\t"):
                return line.split("\t")[1]
        return None

    def char_format(self, start, end):
        fields = self.probe("charformat", str(start), str(end)).stdout.strip().split("\t")
        return dict(bold=fields[1] == "1", italic=fields[2] == "1", face=fields[3], height=int(fields[4]),
                    pitch_and_family=int(fields[5]))

    def rect(self, cid=0):
        fields = self.probe("rect", str(cid)).stdout.split()
        return tuple(int(v) for v in fields[1:5])

    def colours(self, cid):
        """[(COLORREF, pixels)] of what the screen shows of the control, the
        most frequent first."""
        return [(int(f[1], 16), int(f[2])) for f in
                (line.split("\t") for line in self.probe("colours", str(cid)).stdout.splitlines()) if f[0] == "colour"]

    def layout(self):
        """The probe's layout lines: {"dpi": n, "client": rect, "inset": rect,
        id: dict(visible, rect, cell, weight, text=(width, height), exstyle)}."""
        r = self.probe("layout")
        assert r.code == 0, r.stdout
        found = {}
        for line in r.stdout.splitlines():
            fields = line.split("\t")
            numbers = [int(v) for v in fields[1:]]
            if fields[0] == "dpi":
                found["dpi"] = numbers[0]
            elif fields[0] in ("client", "inset"):
                found[fields[0]] = tuple(numbers)
            elif fields[0] == "layout" and numbers[0] != -1:
                found[numbers[0]] = dict(visible=numbers[1] == 1, rect=tuple(numbers[2:6]), cell=numbers[6],
                                         weight=numbers[7], text=tuple(numbers[8:10]), exstyle=numbers[10])
        return found

    def names(self):
        """{id: (hwnd, HRESULT, name)} of the visible controls, as a screen
        reader asks for their accessible names."""
        found = {}
        for line in self.probe("names").stdout.splitlines():
            fields = line.split("\t")
            if fields[0] == "name" and fields[1] != "-1":
                found[int(fields[1])] = (int(fields[2], 16), int(fields[3], 16), unescape(fields[4]))
        return found

    def finish(self, timeout=120):
        return self.prefix.finish(self.proc, timeout)

    def screenshot(self, name):
        """The wizard's window (frame included) as SCREENSHOTS/name."""
        SCREENSHOTS.mkdir(parents=True, exist_ok=True)
        left, top, right, bottom = self.rect(0)
        out = SCREENSHOTS / name
        subprocess.run(["import", "-window", "root", "-crop",
                        f"{right - left}x{bottom - top}+{max(left, 0)}+{max(top, 0)}", "+repage", str(out)],
                       env=self.prefix.env, check=True, capture_output=True)
        return out


def set_screen_dpi(prefix, dpi):
    """The prefix's screen DPI, which Wine reads as it starts: the prefix is
    stopped for it."""
    subprocess.run(["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                    "/d", str(dpi), "/f"], env=prefix.env, check=True, capture_output=True)
    prefix.kill()


def set_system_colours(prefix, **colours):
    """System colours by their Control Panel names (Window="0 0 0"), which
    Wine reads as it starts: the prefix is stopped for them."""
    for name, rgb in colours.items():
        subprocess.run(["wine", "reg", "add", r"HKCU\Control Panel\Colors", "/v", name, "/d", rgb, "/f"],
                       env=prefix.env, check=True, capture_output=True)
    prefix.kill()


def xdotool(prefix, *args):
    subprocess.run(["xdotool", *map(str, args)], env=prefix.env, check=True, capture_output=True)


def use_virtual_desktop(prefix, size="800x600"):
    """Makes every program of prefix run in one Wine desktop window at the
    screen's top-left corner, where Wine draws the window frames itself."""
    for args in ([r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d", "Default"],
                 [r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default", "/d", size]):
        subprocess.run(["wine", "reg", "add", *args, "/f"], env=prefix.env, check=True, capture_output=True)
    prefix.kill()


def explorer_pids(prefix):
    """Process ids of the prefix's desktop shell (Wine's explorer.exe)."""
    pids = []
    marker = f"WINEPREFIX={prefix.path}".encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            cmdline = Path(f"/proc/{entry}/cmdline").read_bytes()
            environ = Path(f"/proc/{entry}/environ").read_bytes()
        except OSError:
            continue
        if b"explorer.exe" in cmdline and marker in environ.split(b"\0"):
            pids.append(int(entry))
    return pids


def stop_desktop_shell(prefix):
    for pid in explorer_pids(prefix):
        os.kill(pid, signal.SIGKILL)
    deadline = time.time() + 10
    while explorer_pids(prefix) and time.time() < deadline:
        time.sleep(0.2)


def invocations(folder):
    """Lines fake_product wrote beside its copy in folder (a host path)."""
    log = Path(folder) / "invocations.log"
    if not log.exists():
        return []
    return [line.lstrip("\ufeff") for line in log.read_text(encoding="utf-8-sig").splitlines() if line]


def wait_for_invocations(folder, count=1, timeout=20):
    deadline = time.time() + timeout
    while time.time() < deadline:
        lines = [l for l in invocations(folder) if l.startswith("run ")]
        if len(lines) >= count:
            return lines
        time.sleep(0.3)
    return [l for l in invocations(folder) if l.startswith("run ")]
