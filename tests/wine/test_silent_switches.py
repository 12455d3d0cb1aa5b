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


if __name__ == "__main__":
    unittest.main()
