"""Which command tails select the silent installation."""
import shutil
import time
import unittest

import harness
from harness import UNINSTALL_KEY

MANIFEST = """
[product]
name = "Switch"
version = "1.0"
publisher = "P"
"""


class SilentSwitchTest(harness.WineTestCase):

    def test_switches(self):
        setup = harness.pack(self.tmp, MANIFEST, {"Switch.exe": b"x", "data.txt": b"installed"})
        p = harness.isolate_shell_folders(self.prefix("win64"))
        target = p.host("C:\\Program Files (x86)\\Switch")
        key = UNINSTALL_KEY + "Switch"

        # Anything else starts the wizard, which waits for the user: it is
        # given a few seconds and must not have installed anything.
        for args in (["s"], ["/q"], ["-", "s"]):
            with self.subTest(args=args):
                proc = p.start(setup, *args)
                deadline = time.time() + 6
                while proc.poll() is None and time.time() < deadline:
                    time.sleep(0.2)
                p.kill()
                proc.wait(timeout=30)
                self.assertFalse(target.exists())
                self.assertIsNone(p.reg_query("32", key, "DisplayName"))

        for args in (["-s"], ["/S"], ["-silent"]):
            with self.subTest(args=args):
                r = p.run(setup, *args)
                self.assertEqual(r.code, 0)
                self.assertEqual((target / "data.txt").read_bytes(), b"installed")
                self.assertEqual(p.reg_query("32", key, "DisplayName")["DisplayName"][2], "Switch 1.0")
                shutil.rmtree(target)
                harness.reg_delete(p, "32", key)

    def test_deployment_switches(self):
        setup = harness.pack(self.tmp, MANIFEST, {"Switch.exe": b"x", "data.txt": b"installed"})
        p = harness.isolate_shell_folders(self.prefix("win64"))
        key = UNINSTALL_KEY + "Switch"
        default = p.host("C:\\Program Files (x86)\\Switch")

        # A relative folder ends a silent run before anything is made.
        self.assertEqual(p.run(setup, "/S", "/D=Custom Dir").code, 1)
        self.assertFalse(default.exists())

        # A link at the log's name is refused and left alone.
        victim = p.drive_c / "victim.txt"
        victim.write_bytes(b"keep")
        (p.drive_c / "link.log").symlink_to(victim)
        r = p.run(setup, "/S", "/LOG=C:\\link.log")
        self.assertEqual(r.code, 1)
        self.assertEqual(victim.read_bytes(), b"keep")
        self.assertFalse(default.exists())
        self.assertIsNone(p.reg_query("32", key, "DisplayName"))

        # /D= takes the rest of the line, blanks included; the log is UTF-8,
        # made anew.
        log = p.drive_c / "setup log.txt"
        log.write_bytes(b"old text")
        r = p.run(setup, "/S", "/LOG=C:\\setup log.txt", "/D=C:\\Custom Dir")
        self.assertEqual(r.code, 0)
        self.assertEqual(r.msgboxes, [])
        self.assertEqual((p.drive_c / "Custom Dir" / "data.txt").read_bytes(), b"installed")
        self.assertFalse(default.exists())
        self.assertEqual(p.reg_query("32", key, "InstallLocation")["InstallLocation"][2], "C:\\Custom Dir\\")
        lines = log.read_bytes().decode("utf-8").split("\r\n")
        self.assertIn("Copy C:\\Custom Dir\\data.txt", lines)
        self.assertNotIn("old text", lines[0])

        # An upgrade stays in the earlier folder and says so.
        r = p.run(setup, "/S", "/LOG=C:\\up.log", "/D=C:\\Other")
        self.assertEqual(r.code, 0)
        self.assertFalse((p.drive_c / "Other").exists())
        text = (p.drive_c / "up.log").read_bytes().decode("utf-8")
        self.assertIn("Upgrade: installing into the earlier installation's folder C:\\Custom Dir\\\r\n", text)

    def test_refusal_without_a_box(self):
        setup = harness.pack(self.tmp, MANIFEST, {"Switch.exe": b"x"}, extra_args=["--corrupt-checksum"])
        p = self.prefix("win64")
        r = p.run(setup, "/SUPPRESSMSGBOXES", "/LOG=C:\\refused.log")
        self.assertEqual(r.code, 1)
        self.assertEqual(r.msgboxes, [])
        self.assertTrue((p.drive_c / "refused.log").read_bytes().strip())


if __name__ == "__main__":
    unittest.main()
