"""Silent installations end to end: the files, the uninstall entry in the
registry view the package selects, the shortcuts and the configure command,
on a fresh installation and on an upgrade, names outside every ANSI code page,
and a package of 1.5 GiB."""
import calendar
import hashlib
import os
import shutil
import struct
import time
import unittest

import harness
from harness import FILETIME_EPOCH, UNINSTALL_KEY, filetime_ns

T2020 = FILETIME_EPOCH + calendar.timegm((2020, 1, 2, 3, 4, 5)) * 10**7  # 2020-01-02T03:04:05Z
T_FRACTION = T2020 + 1234567  # the same second and 0.1234567 s

DAMAGED = "This setup package is damaged!"
TRAILER_SIZE = 20
PREFIX_RECORD_SIZE = CHUNK_TABLE_RECORD_SIZE = 12
CHUNK_RECORD_SIZE = 40
CHUNK_TABLE_MAGIC = 0x4B4E4843  # "CHNK"
VARIANTS = {"x86": b"variant for x86\n", "x64": b"variant for x64, longer\n", "arm64": b"arm64\n"}


def product_files():
    return {
        "sample.exe": harness.fake_product(),
        "docs/readme.txt": b"Read me.\r\n",
        "deep/a/b/c.txt": b"deep file",
        "empty.txt": b"",
        "skip/skip.bin": b"never written" * 10,
        "variant/x86.bin": VARIANTS["x86"],
        "variant/x64.bin": VARIANTS["x64"],
        "variant/arm64.bin": VARIANTS["arm64"],
        "dup1.txt": b"first of two",
        "dup2.txt": b"second of two wins",
        "win10only.txt": b"only on Windows 10",
        # Several 64 KiB chunks and a remainder.
        "big.bin": bytes((i * 7 + i // 251) & 0xFF for i in range(3 * 65536 + 777)),
    }


MANIFEST = """
[product]
name = "Sample"
version = "2.5"
publisher = "Sample Publisher"
main_program = "sample.exe"
configure_args = "/configure %d \\"%s\\""
uninstall_args = "/uninstall"
{extra}

[package]
registry_64 = {registry_64}

[[file]]
source = "sample.exe"
time = 2020-01-02T03:04:05Z
[[file]]
source = "docs/readme.txt"
time = 2020-01-02T03:04:05Z
[[file]]
source = "deep/a/b/c.txt"
time = {fraction}
[[file]]
source = "empty.txt"
time = 2020-01-02T03:04:05Z
[[file]]
source = "skip/skip.bin"
name = "skip\\\\inner\\\\skip.bin"
no_extract = true
[[file]]
source = "variant/x86.bin"
name = "variant.bin"
arch = ["x86"]
[[file]]
source = "variant/x64.bin"
name = "variant.bin"
arch = ["x64"]
[[file]]
source = "variant/arm64.bin"
name = "variant.bin"
arch = ["arm64"]
[[file]]
source = "dup1.txt"
name = "dup.txt"
[[file]]
source = "dup2.txt"
name = "dup.txt"
[[file]]
source = "win10only.txt"
os = ["win10"]
[[file]]
source = "big.bin"
"""


def applicable_total(files, arch):
    """Bytes of every entry that applies on a Windows 7 system of arch,
    FE_NO_EXTRACT included (the base of EstimatedSize)."""
    skip = {"win10only.txt"} | {f"variant/{a}.bin" for a in VARIANTS if a != arch}
    return sum(len(data) for name, data in files.items() if name not in skip)


def sz(text):
    return (1, (len(text) + 1) * 2, text)


def dword(value):
    return (4, 4, str(value))


class SilentInstallTest(harness.WineTestCase):

    def make_setup(self, registry_64, extra=""):
        manifest = MANIFEST.format(registry_64="true" if registry_64 else "false", fraction=T_FRACTION,
                                   extra=extra)
        return harness.pack(self.tmp, manifest, product_files())

    def assert_files(self, root, arch):
        files = product_files()
        expect = {
            "sample.exe": files["sample.exe"],
            "docs/readme.txt": files["docs/readme.txt"],
            "deep/a/b/c.txt": files["deep/a/b/c.txt"],
            "empty.txt": b"",
            "variant.bin": VARIANTS[arch],
            "dup.txt": files["dup2.txt"],
            "big.bin": files["big.bin"],
        }
        for rel, data in expect.items():
            self.assertEqual((root / rel).read_bytes(), data, rel)
        for rel in ("sample.exe", "docs/readme.txt", "empty.txt"):
            self.assertEqual((root / rel).stat().st_mtime_ns, filetime_ns(T2020), rel)
        self.assertEqual((root / "deep/a/b/c.txt").stat().st_mtime_ns, filetime_ns(T_FRACTION))
        # FE_NO_EXTRACT: its folders are made, the file is not.
        self.assertTrue((root / "skip" / "inner").is_dir())
        self.assertFalse((root / "skip" / "inner" / "skip.bin").exists())
        self.assertFalse((root / "win10only.txt").exists())

    def configure_runs(self, root):
        log = root / "invocations.log"
        if not log.exists():
            return []
        return [line for line in log.read_text(encoding="utf-8-sig").splitlines() if line.startswith("run ")]

    def test_fresh_install_in_the_64_bit_view(self):
        setup = self.make_setup(registry_64=True)
        p = harness.isolate_shell_folders(self.prefix("win64"))
        key = UNINSTALL_KEY + "Sample"
        # An entry without DisplayVersion is no earlier installation: its
        # location is not used, but its other values stay.
        p.reg_set("64", key, "InstallLocation", "sz", "C:\\Elsewhere\\")
        p.reg_set("64", key, "Comments", "sz", "kept")
        # A package without quiet uninstall arguments leaves no such command.
        p.reg_set("64", key, "QuietUninstallString", "sz", "stale")

        r = p.run(setup, "/S")
        self.assertEqual(r.code, 0)
        self.assertEqual(r.msgboxes, [])

        install_dir = "C:\\Program Files\\Sample\\"
        root = p.host(install_dir)
        self.assert_files(root, "x64")
        self.assertFalse(p.host("C:\\Elsewhere").exists())

        program = install_dir + "sample.exe"
        values = p.reg_query("64", key, "UninstallString", "DisplayIcon", "InstallLocation", "DisplayName",
                             "DisplayVersion", "Publisher", "NoModify", "NoRepair", "EstimatedSize", "Comments",
                             "QuietUninstallString")
        self.assertEqual(values, {
            "UninstallString": sz(f'"{program}" /uninstall'),
            "QuietUninstallString": None,
            "DisplayIcon": sz(program),
            "InstallLocation": (1, 50, install_dir),  # 24 characters and the terminator
            "DisplayName": sz("Sample 2.5"),
            "DisplayVersion": sz("2.5"),
            "Publisher": sz("Sample Publisher"),
            "NoModify": dword(1),
            "NoRepair": dword(1),
            "EstimatedSize": dword(applicable_total(product_files(), "x64") >> 10),
            "Comments": sz("kept"),
        })
        self.assertIsNone(p.reg_query("32", key, "DisplayName"))  # nothing under Wow6432Node

        # The configure command: the quoted program, the handle 0 of a silent
        # run and the empty version of a fresh installation.
        runs = self.configure_runs(root)
        self.assertEqual(len(runs), 1, runs)
        self.assertTrue(runs[0].startswith(f'run cmdline=["{program}" /configure 0 ""]'), runs[0])
        # in InstallDir, not in the setup's current directory
        self.assertTrue(runs[0].endswith(f"cwd=[{install_dir.rstrip(chr(92))}]"), runs[0])

        for link in (harness.desktop_dir(p) / "Sample.lnk", harness.common_programs_dir(p) / "Sample.lnk"):
            fields = harness.read_link(p, link)
            self.assertIsNotNone(fields, link)
            self.assertEqual(fields["target"], program)
            self.assertEqual(fields["arguments"], "")
            self.assertEqual(fields["workdir"], install_dir)
            self.assertEqual(fields["icon"], "")

    def test_fresh_install_on_a_32_bit_system(self):
        # On x86 Windows the registry has one view whatever the flag says.
        setup = self.make_setup(registry_64=True)
        p = harness.isolate_shell_folders(self.prefix("win32"))
        r = p.run(setup, "-s")
        self.assertEqual(r.code, 0)
        root = p.host("C:\\Program Files\\Sample")
        self.assert_files(root, "x86")
        values = p.reg_query("32", UNINSTALL_KEY + "Sample", "InstallLocation", "EstimatedSize")
        self.assertEqual(values["InstallLocation"], sz("C:\\Program Files\\Sample\\"))
        self.assertEqual(values["EstimatedSize"], dword(applicable_total(product_files(), "x86") >> 10))
        self.assertTrue((harness.desktop_dir(p) / "Sample.lnk").exists())
        self.assertTrue((harness.common_programs_dir(p) / "Sample.lnk").exists())

    def test_upgrade_in_the_32_bit_view(self):
        # The main program twice: the later entry replaces the one held for
        # the configure command.
        setup = self.make_setup(registry_64=False, extra='quiet_uninstall_args = "/uninstall /quiet"\n'
                                '[[file]]\nsource = "sample.exe"\n')
        p = harness.isolate_shell_folders(self.prefix("win64"))
        key = UNINSTALL_KEY + "Sample"
        install_dir = "C:\\Apps\\Sample\\"
        p.reg_set("32", key, "InstallLocation", "sz", install_dir)
        p.reg_set("32", key, "DisplayVersion", "sz", "0.9")
        p.reg_set("32", key, "Comments", "sz", "kept")
        root = p.host(install_dir)
        root.mkdir(parents=True)
        (root / "empty.txt").write_bytes(b"an earlier, longer content")
        (root / "old.txt").write_bytes(b"left alone")
        # What a standard user could have left in a folder they could write
        # into: a DLL (of a name the fake product does not load, so that the
        # configure command still runs), and the main program itself.
        (root / "planted.dll").write_bytes(b"planted")
        (root / "sample.exe").write_bytes(b"not the product")
        # (sample.exe is replaced twice here, and the host may hand the
        # second new file the first one's freed inode.)
        before = {name: (root / name).stat().st_ino for name in ("empty.txt",)}

        r = p.run(setup, "/S")
        self.assertEqual(r.code, 0)
        self.assert_files(root, "x64")
        self.assertEqual((root / "old.txt").read_bytes(), b"left alone")
        # Replaced by new files, not rewritten: nothing of the old ones stays.
        for name, inode in before.items():
            self.assertNotEqual((root / name).stat().st_ino, inode, name)
        self.assertEqual(sorted(x.name for x in root.rglob("*.tmp~")), [])
        self.assertFalse(p.host("C:\\Program Files (x86)\\Sample").exists())
        self.assertFalse(p.host("C:\\Program Files\\Sample").exists())

        # The configure command sees the earlier version.
        program = install_dir + "sample.exe"
        runs = self.configure_runs(root)
        self.assertEqual(len(runs), 1, runs)
        self.assertTrue(runs[0].startswith(f'run cmdline=["{program}" /configure 0 "0.9"]'), runs[0])

        values = p.reg_query("32", key, "InstallLocation", "DisplayVersion", "UninstallString", "Comments",
                             "QuietUninstallString")
        self.assertEqual(values, {"InstallLocation": sz(install_dir), "DisplayVersion": sz("2.5"),
                                  "UninstallString": sz(f'"{program}" /uninstall'), "Comments": sz("kept"),
                                  "QuietUninstallString": sz(f'"{program}" /uninstall /quiet')})
        self.assertIsNone(p.reg_query("64", key, "DisplayVersion"))

        # An upgrade makes no shortcuts.
        self.assertFalse((harness.desktop_dir(p) / "Sample.lnk").exists())
        self.assertFalse((harness.common_programs_dir(p) / "Sample.lnk").exists())

    def test_custom_launch_command_and_a_configure_command_that_cannot_start(self):
        # The main program is missing from the package, so the configure
        # command cannot start; the registration is complete all the same.
        files = {"tool.exe": b"not a program", "readme.txt": b"r"}
        manifest = """
[product]
name = "Custom"
version = "1.0"
publisher = "P"
main_program = "app.exe"
launch_command = "C:\\\\Tools\\\\tool.exe --tray"
configure_args = "/configure %d"
"""
        setup = harness.pack(self.tmp, manifest, files)
        p = harness.isolate_shell_folders(self.prefix("win64"))
        r = p.run(setup, "/S")
        self.assertEqual(r.code, 0)
        install_dir = "C:\\Program Files (x86)\\Custom\\"
        root = p.host(install_dir)
        self.assertEqual((root / "tool.exe").read_bytes(), b"not a program")
        values = p.reg_query("32", UNINSTALL_KEY + "Custom", "UninstallString", "DisplayIcon", "InstallLocation",
                             "DisplayName", "DisplayVersion", "Publisher", "NoModify", "NoRepair",
                             "EstimatedSize")
        self.assertEqual(values, {
            "UninstallString": sz(f'"{install_dir}app.exe"'),  # no arguments: no trailing blank
            "DisplayIcon": sz(install_dir + "app.exe"),
            "InstallLocation": sz(install_dir),
            "DisplayName": sz("Custom 1.0"),
            "DisplayVersion": sz("1.0"),
            "Publisher": sz("P"),
            "NoModify": dword(1),
            "NoRepair": dword(1),
            "EstimatedSize": dword(0),  # 14 bytes
        })
        # The custom command is split at its last blank; the icon is the main program.
        for link in (harness.desktop_dir(p) / "Custom.lnk", harness.common_programs_dir(p) / "Custom.lnk"):
            fields = harness.read_link(p, link)
            self.assertIsNotNone(fields, link)
            self.assertEqual(fields["target"], "C:\\Tools\\tool.exe")
            self.assertEqual(fields["arguments"], "--tray")
            self.assertEqual(fields["workdir"], install_dir)
            self.assertEqual((fields["icon"], fields["icon_index"]), (install_dir + "app.exe", 0))

    def test_names_outside_every_ansi_code_page(self):
        # German, Cyrillic and Japanese names together fit no ANSI code page:
        # the package holds them as UTF-8 and the stub converts them so.
        files = {"\u00dcbersicht.txt": "\u00dcbersicht".encode(), "\u041f\u0440\u0438\u0432\u0435\u0442/\u0444\u0430\u0439\u043b.txt": b"privet",
                 "\u65e5\u672c\u8a9e.txt": "\u65e5\u672c\u8a9e".encode()}
        manifest = '[product]\nname = "Intl"\nversion = "1.0"\npublisher = "P"\n' + "".join(
            f'[[file]]\nsource = "{name}"\n' for name in files)
        setup = harness.pack(self.tmp, manifest, files)
        self.assertTrue(harness.inspect(setup)["header"]["utf8_names"])
        p = harness.isolate_shell_folders(self.prefix("win64"))
        r = p.run(setup, "/S")
        self.assertEqual(r.code, 0, r.stderr[-2000:])
        root = p.host("C:\\Program Files (x86)\\Intl\\")
        for name, data in files.items():
            self.assertEqual((root / name).read_bytes(), data, name)
        self.assertEqual(sorted(path.name for path in root.iterdir()),
                         sorted(["\u00dcbersicht.txt", "\u041f\u0440\u0438\u0432\u0435\u0442", "\u65e5\u672c\u8a9e.txt"]))

    def test_chunked_package(self):
        """Chunks of 64 KiB, more than the decoders' window holds: installed
        with the bound hash (the chunks stream to the files as they are
        decoded) and without it (decoded whole, then written). Damage in the
        last chunk writes nothing, whether the bound hash or the chunk's
        CRC-32 finds it; a chunk that fails only its CRC-32 once the hash has
        passed ends the run as a failed installation. Data that does not
        compress goes last, into stored chunks; a stub that does not declare
        chunks is refused by the packer."""
        files = product_files()
        files["text.txt"] = b"".join(b"line %d of a text that compresses\r\n" % i for i in range(40000))
        files["noise.bin"] = os.urandom(300000)
        manifest = MANIFEST.format(registry_64="false", fraction=T_FRACTION, extra="") + \
            '[[file]]\nsource = "text.txt"\n[[file]]\nsource = "noise.bin"\n'
        older = harness.stub_with_capabilities(0x3, self.tmp / "older-stub.exe")
        with self.assertRaisesRegex(RuntimeError, "the stub does not read chunked packages"):
            harness.pack(self.tmp, manifest, files, ["--chunk-size", "65536"], stub=older)
        setup = harness.pack(self.tmp, manifest, files, extra_args=["--chunk-size", "65536"])
        listing = harness.inspect(setup)
        self.assertTrue(listing["chunks"][-1]["stored"])
        trailer = listing["trailer"]
        bound = setup.read_bytes()
        # The chunk table ends just before the prefix record: count, then
        # (packed offset, packed size, ...) per chunk.
        table_at = trailer["packed_offset"] - PREFIX_RECORD_SIZE - CHUNK_TABLE_RECORD_SIZE
        magic, count = struct.unpack_from("<II", bound, table_at)
        self.assertEqual(magic, CHUNK_TABLE_MAGIC)
        self.assertGreater(count, 6)
        last_offset, last_size = struct.unpack_from("<QQ", bound, table_at - CHUNK_RECORD_SIZE)
        slot = listing["bound_hash"]["offset"]

        def with_hash(data, digest):
            return data[:slot] + digest + data[slot + 32:]

        unbound = with_hash(bound, bytes(32))
        last = trailer["packed_offset"] + last_offset + last_size // 2

        def damaged(data):
            return data[:last] + bytes([data[last] ^ 0x55]) + data[last + 1:]

        region = slice(trailer["packed_offset"] - trailer["extra_size"],
                       trailer["packed_offset"] + trailer["packed_size"] + TRAILER_SIZE)
        rehashed = damaged(bound)
        rehashed = with_hash(rehashed, hashlib.sha256(rehashed[region]).digest())
        p = harness.isolate_shell_folders(self.prefix("win64"))
        target = "C:\\Chunked"
        root = p.host(target)
        # ERROR_CRC (23) ends the write of the file whose data the chunk holds.
        for name, data, code, logged in (("bound", bound, 0, "\r\nEnd"), ("unbound", unbound, 0, "\r\nEnd"),
                                         ("bound-damaged", damaged(bound), 1, DAMAGED),
                                         ("unbound-damaged", damaged(unbound), 1, DAMAGED),
                                         ("rehashed", rehashed, 1, ", code: 23\r\n")):
            with self.subTest(name=name):
                exe = self.tmp / f"{name}.exe"
                exe.write_bytes(data)
                r = p.run(exe, "/S", "/SUPPRESSMSGBOXES", f"/LOG=C:\\{name}.log", f"/D={target}")
                self.assertEqual((r.code, r.msgboxes), (code, []))
                self.assertIn(logged, (p.drive_c / f"{name}.log").read_bytes().decode("utf-8"))
                if code == 0:
                    self.assert_files(root, "x64")
                    for added in ("text.txt", "noise.bin"):
                        self.assertEqual((root / added).read_bytes(), files[added], added)
                elif name != "rehashed":
                    self.assertFalse(root.exists())
                shutil.rmtree(root, ignore_errors=True)
                harness.reg_delete(p, "32", UNINSTALL_KEY + "Sample")

    def test_package_of_one_and_a_half_gib(self):
        # More than a 32-bit process without large-address awareness finds in
        # one piece; zeros pack small, so only the unpacked size matters.
        size = 1536 << 20
        product = self.tmp / "big" / "product"
        product.mkdir(parents=True)
        with open(product / "zeros.bin", "wb") as f:
            f.truncate(size)  # sparse: nothing to read from the disk
        manifest = '[product]\nname = "Big"\nversion = "1.0"\npublisher = "P"\n' \
                   'default_install_dir = "C:\\\\Big"\n'
        started = time.time()
        setup = harness.pack(self.tmp / "big", manifest)
        packed = time.time() - started
        self.assertLess(setup.stat().st_size, 4 << 20)
        p = harness.isolate_shell_folders(self.prefix("win64"))
        started = time.time()
        r = p.run(setup, "/S", timeout=300)
        installed = time.time() - started
        print(f"\n1536 MiB of zeros: packed in {packed:.1f} s, installed in {installed:.1f} s")
        self.assertEqual((r.code, r.msgboxes), (0, []))
        target = p.host("C:\\Big\\zeros.bin")
        self.assertEqual(target.stat().st_size, size)
        with open(target, "rb") as f:
            for at in (0, size // 2, size - 65536):
                f.seek(at)
                self.assertEqual(f.read(65536), bytes(65536), at)
        os.unlink(target)


if __name__ == "__main__":
    unittest.main()
