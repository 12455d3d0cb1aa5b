"""Runs the cross-built stub and helper programs under Wine for the tests.

Each test gets its own Wine prefix, copied from a template that is made once
per build (wineboot is slow), and the whole test process shares one Xvfb
display. Message-box texts come from WINEDEBUG=+msgbox.
"""
import atexit
import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

import wine_base

ROOT = Path(__file__).resolve().parents[2]
NATIVE_BUILD = Path(os.environ.get("NATIVE_BUILD_DIR", ROOT / "build" / "native"))
WIN_BUILD = Path(os.environ.get("WIN_BUILD_DIR", ROOT / "build" / "win"))
PACKER = NATIVE_BUILD / "packer"
STUB = WIN_BUILD / "setup-stub.exe"
WORK = Path(os.environ.get("WINE_TEST_DIR", ROOT / "build" / "wine-tests"))


def helper(name):
    """Path of a Windows helper program from tests/helpers."""
    return WIN_BUILD / f"{name}.exe"


# --- display ---------------------------------------------------------------

_display = None


def display():
    """Starts one Xvfb for this process and returns its DISPLAY value."""
    global _display
    if not _display:
        _display = wine_base.start_xvfb(range(100, 400), "1280x1024x24")
        atexit.register(_display[1].terminate)
    return _display[0]


# --- prefixes --------------------------------------------------------------

WINE64 = wine_base.WINE64
X64_ONLY = "x64-only"  # a prefix for 64-bit programs, run with WINE64
NO_NATIVE_X86_32 = "this machine cannot run 32-bit x86 programs natively"
_native_x86_32 = None


def runs_x86_32_natively():
    """Some virtual machines cannot execute 32-bit code at all, and an
    emulator registered with binfmt_misc makes a single wineboot take
    minutes."""
    global _native_x86_32
    if _native_x86_32 is None:
        _native_x86_32 = _probe_x86_32()
    return _native_x86_32


def _probe_x86_32():
    binfmt = Path("/proc/sys/fs/binfmt_misc")
    for entry in binfmt.glob("*") if binfmt.is_dir() else []:
        try:
            text = entry.read_text()
        except OSError:
            continue
        if text.startswith("enabled") and re.search(r"interpreter .*qemu-i386", text):
            return False
    try:
        subprocess.run(["/usr/lib/wine/wine", "--version"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return True


# Where 32-bit code cannot run, the tests run a 64-bit build of the stub and
# its helpers (preset win64-test) under wine64 in 64-bit prefixes: the same
# code, with WOW64's file and registry redirection left out. The shipped
# 32-bit image is still what the image checks read.
REAL_WIN_BUILD, REAL_STUB = WIN_BUILD, STUB
STUB_X64 = not runs_x86_32_natively()
if STUB_X64:
    WIN_BUILD = Path(os.environ.get("WIN64_TEST_BUILD_DIR", ROOT / "build" / "win64-test"))
    STUB = WIN_BUILD / "setup-stub.exe"
NO_32_BIT_PREFIX = "a 32-bit prefix: " + NO_NATIVE_X86_32


def _base_env():
    env = wine_base.wine_env(display())
    if STUB_X64:
        env["PATH"] = f"{wine_base.wine64_shims(WORK / 'wine64-shims')}:{env.get('PATH', '')}"
    return env


def template(kind="win64"):
    """A prepared Wine prefix: win64 (x64 machine), win32 (x86), each with
    an optional -win10 suffix for a prefix that reports Windows 10, or
    X64_ONLY for 64-bit programs."""
    def prepare(env):
        if STUB_X64 and kind != X64_ONLY:
            # wine64 alone leaves out the 32-bit registry view's value
            # that the stub, a WOW64 program on Windows, reads.
            subprocess.run(["wine", "reg", "add", "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion",
                            "/v", "ProgramFilesDir", "/t", "REG_SZ", "/d", "C:\\Program Files (x86)", "/f"],
                           env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        if kind.endswith("-win10"):
            subprocess.run(["wine", "winecfg", "/v", "win10"], env=env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    env = _base_env()
    env["WINEARCH"] = "win32" if kind.startswith("win32") else "win64"
    # 64-bit programs alone need no 32-bit loader: started through
    # wine64, such a prefix works where 32-bit code cannot run.
    wineboot = [WINE64, "wineboot"] if kind == X64_ONLY else ["wineboot"]
    return wine_base.boot_prefix(WORK / "templates" / kind, env, wineboot, prepare)


class Result:
    def __init__(self, code, stderr, stdout=""):
        self.code = code
        self.stderr = stderr
        self.stdout = stdout
        self.msgboxes = parse_msgboxes(stderr)
        # Filled only when the run traced +cursor (start(..., debug="+cursor")).
        self.msgbox_icons = parse_msgbox_icons(stderr)


def _unescape(text):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n in "nrt\\\"":
                out.append({"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}[n])
                i += 2
                continue
            m = re.match(r"x([0-9a-fA-F]{2,4})", text[i + 1:])
            if m:
                out.append(chr(int(m.group(1), 16)))
                i += 1 + len(m.group(0))
                continue
        out.append(c)
        i += 1
    return "".join(out)


def parse_msgboxes(stderr):
    """Texts of every message box shown, in order, from WINEDEBUG=+msgbox."""
    texts = []
    for line in stderr.splitlines():
        m = re.search(r'trace:msgbox:MSGBOX_OnInit L"(.*)"$', line)
        if m:
            texts.append(_unescape(m.group(1)))
    return texts


# Standard icons that a message box loads for its MB_ICON* style.
MSGBOX_ICONS = {0x7F01: "error", 0x7F02: "question", 0x7F03: "warning", 0x7F04: "information"}


def parse_msgbox_icons(stderr):
    """For each message box, in order, the standard icon it showed ("error",
    "question", "warning", "information") or None; needs the +cursor channel.
    A box loads its icon right after MSGBOX_OnInit, on the same thread."""
    icons = []
    waiting = {}  # thread id -> index into icons
    for line in stderr.splitlines():
        m = re.match(r"([0-9a-f]+):trace:msgbox:MSGBOX_OnInit ", line)
        if m:
            waiting[m.group(1)] = len(icons)
            icons.append(None)
            continue
        m = re.match(r"([0-9a-f]+):trace:cursor:LoadIconW [0-9a-fA-F]+, #([0-9a-fA-F]+)", line)
        if m and m.group(1) in waiting:
            icons[waiting.pop(m.group(1))] = MSGBOX_ICONS.get(int(m.group(2), 16), m.group(2))
    return icons


class Prefix(wine_base.Prefix):
    """A private copy of a template prefix for one test."""

    def __init__(self, kind="win64", name="run"):
        if STUB_X64 and kind.startswith("win32"):
            raise unittest.SkipTest(NO_32_BIT_PREFIX)
        self.kind = kind
        WORK.mkdir(parents=True, exist_ok=True)
        path = Path(tempfile.mkdtemp(prefix=f"{name}-", dir=WORK))
        shutil.rmtree(path)
        subprocess.run(["cp", "-a", str(template(kind)), str(path)], check=True)
        super().__init__(path, _base_env())
        # Shortcuts and desktop entries must never land in the host's home.
        isolate_shell_folders(self)

    # paths
    def program_files(self):
        return "C:\\Program Files" if self.kind.startswith("win64") else "C:\\Program Files"

    # processes
    def start(self, exe, *args, msgbox=True, cwd=None, debug=None):
        """debug: further WINEDEBUG channels, e.g. "+cursor" for msgbox_icons."""
        env = dict(self.env)
        if msgbox:
            env["WINEDEBUG"] = "-all,+msgbox"
        if debug:
            env["WINEDEBUG"] += "," + debug
        err = tempfile.TemporaryFile(mode="w+")
        out = tempfile.TemporaryFile(mode="w+")
        proc = subprocess.Popen(["wine", str(exe), *map(str, args)], env=env, stdout=out,
                                stderr=err, cwd=cwd)
        proc._err, proc._out = err, out
        return proc

    def finish(self, proc, timeout=120):
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            proc.wait(timeout=30)
            raise
        proc._err.seek(0)
        proc._out.seek(0)
        result = Result(code, proc._err.read(), proc._out.read())
        proc._err.close()
        proc._out.close()
        return result

    def run(self, exe, *args, timeout=120, msgbox=True, cwd=None, debug=None):
        return self.finish(self.start(exe, *args, msgbox=msgbox, cwd=cwd, debug=debug), timeout)

    def tool(self, name, *args, timeout=60):
        """Runs a helper program and returns its Result (stdout decoded)."""
        return self.run(helper(name), *args, timeout=timeout, msgbox=False)

    def answer(self, caption, button, timeout_ms=30000):
        """Clicks a button of the dialog titled caption once it appears.
        Returns the box's text, or None when no such dialog appeared."""
        r = self.tool("dialog_answer", caption, button, timeout_ms, timeout=timeout_ms / 1000 + 30)
        return r.stdout if r.code == 0 else None

    # registry
    def reg_query(self, view, key, *values):
        """{value: (type, size, data)} with None for absent values; None when the key is missing."""
        r = self.tool("reg_probe", "query", view, key, *values)
        if r.stdout.startswith("nokey"):
            return None
        found = {}
        for line in r.stdout.splitlines():
            parts = line.split("\t")
            if len(parts) == 2:
                found[parts[0]] = None
            elif len(parts) >= 4:
                found[parts[0]] = (int(parts[1]), int(parts[2]), "\t".join(parts[3:]))
        return found

    def reg_set(self, view, key, value, kind, data, size=None):
        args = ["set", view, key, value, kind, data] + ([str(size)] if size is not None else [])
        r = self.tool("reg_probe", *args)
        assert r.code == 0, r.stderr

    def kill(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)

    def close(self):
        self.kill()
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)
        if not os.environ.get("KEEP_WINE_PREFIX"):
            shutil.rmtree(self.path, ignore_errors=True)


# --- packages --------------------------------------------------------------

def pack(workdir, manifest, files=None, extra_args=(), stub=None, output="setup.exe"):
    """Writes files {relative path: bytes} into workdir/product, the manifest
    text into workdir/manifest.toml, and runs the packer. Returns the setup
    file's path; raises with the packer's message when it refuses."""
    workdir = Path(workdir)
    product = workdir / "product"
    product.mkdir(parents=True, exist_ok=True)
    for rel, data in (files or {}).items():
        target = product / rel
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data if isinstance(data, bytes) else Path(data).read_bytes())
    (workdir / "manifest.toml").write_text(manifest, encoding="utf-8")
    out = workdir / output
    r = subprocess.run([str(PACKER), "build", "--manifest", str(workdir / "manifest.toml"),
                        "--product-dir", str(product), "--stub", str(stub or STUB),
                        "--output", str(out), *map(str, extra_args)],
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError(f"packer failed: {r.stderr}")
    return out


def stub_with_capabilities(capabilities, path):
    """A copy of the stub at path whose RCDATA 1 declares capabilities (the
    STUB_CAN_* bits): a stub older or newer than the one built. PE32 or PE32+."""
    import struct
    data = bytearray(Path(STUB).read_bytes())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    resource_rva = struct.unpack_from("<I", data, pe + 24 + (96 if magic == 0x10B else 112) + 16)[0]

    def offset(rva):
        for i in range(sections):
            size, address, _, raw = struct.unpack_from("<IIII", data, pe + 24 + optional_size + 40 * i + 8)
            if address <= rva < address + size:
                return raw + rva - address
        raise RuntimeError("no section holds the resource")

    base = offset(resource_rva)
    at = 0
    for want in (10, 1, None):  # RT_RCDATA, id 1, the first language
        named, ids = struct.unpack_from("<HH", data, base + at + 12)
        entries = [struct.unpack_from("<II", data, base + at + 16 + 8 * i) for i in range(named + ids)]
        at = next(target for name, target in entries if want is None or name == want) & 0x7FFFFFFF
    struct.pack_into("<I", data, offset(struct.unpack_from("<I", data, base + at)[0]), capabilities)
    Path(path).write_bytes(data)
    return Path(path)


def inspect(setup, refused=False):
    """The packer's JSON listing of a setup file (trailer offsets and sizes,
    certificate table, header, entries); raises when it finds no package,
    and unless refused is true, when the stub would refuse the one listed."""
    r = subprocess.run([str(PACKER), "inspect", "--json", str(setup)], capture_output=True, text=True, timeout=60)
    if r.returncode != (1 if refused else 0) or not r.stdout:
        raise RuntimeError(f"packer inspect failed: {r.stderr}")
    return json.loads(r.stdout)


def fake_product():
    return helper("fake_product").read_bytes()


def sign(setup, workdir):
    """Signs a setup file with osslsigncode and a self-signed test certificate
    made in workdir; returns the signed file's path (beside the input)."""
    workdir = Path(workdir)
    key, cert = workdir / "test-key.pem", workdir / "test-cert.pem"
    if not cert.exists():
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Setup Test Signer", "-keyout", str(key), "-out", str(cert)],
                       check=True, capture_output=True)
    setup = Path(setup)
    signed = setup.with_name(setup.stem + "-signed" + setup.suffix)
    r = subprocess.run(["osslsigncode", "sign", "-certs", str(cert), "-key", str(key), "-h", "sha256",
                        "-n", "Setup Test", "-in", str(setup), "-out", str(signed)],
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError(f"osslsigncode failed: {r.stdout}{r.stderr}")
    return signed


class WineTestCase(unittest.TestCase):
    """Gives each test a scratch folder; prefixes are made on demand and
    closed after the test."""

    def setUp(self):
        WORK.mkdir(parents=True, exist_ok=True)
        self.tmp = Path(tempfile.mkdtemp(prefix=f"{self.id().split('.')[-1]}-", dir=WORK))
        self._prefixes = []

    def tearDown(self):
        for p in self._prefixes:
            p.close()
        if not os.environ.get("KEEP_WINE_PREFIX"):
            shutil.rmtree(self.tmp, ignore_errors=True)

    def prefix(self, kind="win64"):
        p = Prefix(kind, name=self.id().split(".")[-1])
        self._prefixes.append(p)
        return p


# --- installation checks ---------------------------------------------------

UNINSTALL_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
FILETIME_EPOCH = 116444736000000000  # 1970-01-01 as a FILETIME


def filetime_ns(filetime):
    """Unix nanoseconds of a FILETIME (100 ns units since 1601)."""
    return (filetime - FILETIME_EPOCH) * 100


def isolate_shell_folders(prefix):
    """Turns the user's shell folders that a template prefix links to the
    host's home (Desktop, Documents, ...) into folders inside the prefix, and
    keeps Wine from mirroring shortcuts into the host's menus, so that an
    installation that makes shortcuts writes nothing outside the prefix."""
    wine_base.replace_home_links(prefix.drive_c)
    overrides = prefix.env.get("WINEDLLOVERRIDES", "")
    prefix.env["WINEDLLOVERRIDES"] = (overrides + ";" if overrides else "") + "winemenubuilder.exe=d"
    return prefix


def desktop_dir(prefix):
    """Host path of the desktop folder of the user the setup runs as."""
    users = [u for u in (prefix.drive_c / "users").iterdir() if u.name != "Public" and u.is_dir()]
    assert len(users) == 1, users
    return users[0] / "Desktop"


def common_programs_dir(prefix):
    return prefix.drive_c / "ProgramData" / "Microsoft" / "Windows" / "Start Menu" / "Programs"


def read_link(prefix, host_path):
    """{target, arguments, workdir, icon, icon_index} of a .lnk read back
    through IShellLinkW; None when it cannot be loaded."""
    r = prefix.tool("lnk_probe", Prefix.win(host_path))
    if r.code != 0:
        return None
    fields = {}
    for line in r.stdout.splitlines():
        parts = line.split("\t")
        if parts[0] == "icon":
            fields["icon"], fields["icon_index"] = parts[1], int(parts[2])
        elif len(parts) == 2:
            fields[parts[0]] = parts[1]
    return fields


def reg_delete(prefix, view, key):
    prefix.tool("reg_probe", "delete", view, key)


def wait_for_file(path, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if Path(path).exists():
            return True
        time.sleep(0.1)
    return False
