"""Where a silent installation goes: the earlier installation found through
the uninstall key (with values of every shape), and the default directory."""
import shutil
import unittest

import harness
from harness import UNINSTALL_KEY

PF86 = "C:\\Program Files (x86)\\"

MANIFEST = """
[product]
name = "{name}"
version = "3.0"
publisher = "P"
main_program = "sample.exe"
configure_args = "/configure %d \\"%s\\""
{extra}
"""


class InstallLocationTest(harness.WineTestCase):

    def setup_file(self, name="Sample", extra="", output="setup.exe"):
        files = {"sample.exe": harness.fake_product(), "a.txt": b"payload"}
        return harness.pack(self.tmp / output.replace(".exe", ""), MANIFEST.format(name=name, extra=extra),
                            files)

    def clean(self, p, name="Sample"):
        harness.reg_delete(p, "32", UNINSTALL_KEY + name)
        for d in (p.host(PF86 + name), p.drive_c / "Apps"):
            shutil.rmtree(d, ignore_errors=True)
        (p.drive_c / "Apps").mkdir()
        for link in (harness.desktop_dir(p) / f"{name}.lnk", harness.common_programs_dir(p) / f"{name}.lnk"):
            link.unlink(missing_ok=True)

    def previous_versions(self, root):
        log = root / "invocations.log"
        lines = log.read_text(encoding="utf-8-sig").splitlines() if log.exists() else []
        return [line.split("/configure 0 ", 1)[1].split("]", 1)[0] for line in lines if line.startswith("run ")]

    def test_earlier_installation_lookup(self):
        setup = self.setup_file()
        p = harness.isolate_shell_folders(self.prefix("win64"))
        key = UNINSTALL_KEY + "Sample"
        fresh = PF86 + "Sample\\"
        cases = [
            # (what, values to seed, expected InstallDir, previous version seen by the configure command)
            ("DisplayVersion of 2 bytes counts as found",
             [("DisplayVersion", "sz", "", 2), ("InstallLocation", "sz", "C:\\Apps\\A\\", None)],
             "C:\\Apps\\A\\", '""'),
            ("DisplayVersion of 0 bytes is a fresh installation",
             [("DisplayVersion", "sz", "", 0), ("InstallLocation", "sz", "C:\\Apps\\B\\", None)],
             fresh, '""'),
            ("a DisplayVersion that is no string is a fresh installation",
             [("DisplayVersion", "dword", "1", None), ("InstallLocation", "sz", "C:\\Apps\\C\\", None)],
             fresh, '""'),
            # 31 characters fill the 64-byte buffer with the terminator; an
            # InstallLocation stored without terminator and backslash is
            # terminated and gets one backslash.
            ("31 characters and an unterminated location",
             [("DisplayVersion", "sz", "v" * 31, None), ("InstallLocation", "sz", "C:\\Apps\\D", 18)],
             "C:\\Apps\\D\\", '"' + "v" * 31 + '"'),
            ("32 characters do not fit: fresh, and no version is passed on",
             [("DisplayVersion", "sz", "w" * 32, None), ("InstallLocation", "sz", "C:\\Apps\\E\\", None)],
             fresh, '""'),
        ]
        for what, seeds, install_dir, previous in cases:
            with self.subTest(what):
                self.clean(p)
                for value, kind, data, size in seeds:
                    p.reg_set("32", key, value, kind, data, size)
                r = p.run(setup, "/S", cwd=self.tmp)
                self.assertEqual(r.code, 0)
                root = p.host(install_dir)
                self.assertEqual((root / "a.txt").read_bytes(), b"payload")
                self.assertEqual(self.previous_versions(root), [previous])
                values = p.reg_query("32", key, "InstallLocation", "DisplayVersion")
                self.assertEqual(values["InstallLocation"], (1, (len(install_dir) + 1) * 2, install_dir))
                self.assertEqual(values["DisplayVersion"], (1, 8, "3.0"))
                links = [harness.desktop_dir(p) / "Sample.lnk", harness.common_programs_dir(p) / "Sample.lnk"]
                self.assertEqual([link.exists() for link in links], [install_dir == fresh] * 2)

        with self.subTest("an earlier installation whose location is no string installs nothing"):
            self.clean(p)
            p.reg_set("32", key, "DisplayVersion", "sz", "1.0")
            p.reg_set("32", key, "InstallLocation", "binary", "433a5c417070735c46")
            r = p.run(setup, "/S", cwd=self.tmp)
            self.assertEqual(r.code, 1)
            self.assertEqual(list((p.drive_c / "Apps").iterdir()), [])
            self.assertFalse(p.host(fresh).exists())
            self.assertEqual(sorted(x.name for x in self.tmp.iterdir()), ["setup"])  # nothing relative to the cwd
            values = p.reg_query("32", key, "DisplayVersion", "DisplayName")
            self.assertEqual(values, {"DisplayVersion": (1, 8, "1.0"), "DisplayName": None})

    def test_default_directory(self):
        p = harness.isolate_shell_folders(self.prefix("win64"))

        with self.subTest("DefaultInstallDir is expanded and used without the product folder"):
            setup = self.setup_file(extra='default_install_dir = "%ProgramFiles%\\\\Sample Tools"', output="a.exe")
            r = p.run(setup, "/S")
            self.assertEqual(r.code, 0)
            # A 32-bit process on 64-bit Windows sees the 32-bit program-files folder.
            install_dir = ("C:\\Program Files\\" if harness.STUB_X64 else PF86) + "Sample Tools\\"
            self.assertEqual(p.host(install_dir + "a.txt").read_bytes(), b"payload")
            self.assertFalse(p.host(install_dir + "Sample").exists())
            values = p.reg_query("32", UNINSTALL_KEY + "Sample", "InstallLocation")
            self.assertEqual(values["InstallLocation"], (1, (len(install_dir) + 1) * 2, install_dir))
            harness.reg_delete(p, "32", UNINSTALL_KEY + "Sample")

        for what, directory, absent in [
            ("a default directory whose parent is missing", "C:\\\\NoParent\\\\Sample", "C:\\NoParent"),
            # Expanded, the text no longer fits 260 characters: it is refused,
            # not cut to a shorter directory.
            ("a default directory that does not fit once expanded",
             "C:\\\\" + "d" * 250 + "\\\\%ProgramFiles%", "C:\\" + "d" * 250),
        ]:
            with self.subTest(what):
                setup = self.setup_file(name="Other", extra=f'default_install_dir = "{directory}"',
                                        output="b.exe")
                r = p.run(setup, "/S", cwd=self.tmp)
                self.assertEqual(r.code, 1)  # nothing installed
                self.assertFalse(p.host(absent).exists())
                self.assertIsNone(p.reg_query("32", UNINSTALL_KEY + "Other", "DisplayName"))
                self.assertFalse((harness.desktop_dir(p) / "Other.lnk").exists())
                self.assertFalse((harness.common_programs_dir(p) / "Other.lnk").exists())

        with self.subTest("a product name of 75 characters gives a key path of 127 characters"):
            name = "Long Product " + "n" * 62
            self.assertEqual(len(name), 75)
            setup = self.setup_file(name=name, output="c.exe")
            r = p.run(setup, "/S")
            self.assertEqual(r.code, 0)
            install_dir = PF86 + name + "\\"
            self.assertEqual(p.host(install_dir + "a.txt").read_bytes(), b"payload")
            values = p.reg_query("32", UNINSTALL_KEY + name, "InstallLocation", "DisplayName")
            self.assertEqual(values["InstallLocation"][2], install_dir)
            self.assertEqual(values["DisplayName"][2], name + " 3.0")


if __name__ == "__main__":
    unittest.main()
