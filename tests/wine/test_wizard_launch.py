"""Finish with the launch box checked opens the product through the desktop
shell, in the installation directory; the upgrade that follows skips the
destination page and installs into the earlier folder; without a desktop
shell nothing is started."""
import shutil
import unittest

import harness
from wizard_driver import (ACCEPT, CANCEL, DIR_EDIT, LAUNCH, NEXT, PANE, UNINSTALL_KEY, Wizard,
                           invocations, manifest, stop_desktop_shell, wait_for_invocations)


def parse_run(line):
    """'run cmdline=[...] cwd=[...]' -> (cmdline, cwd)."""
    head, cwd = line.rsplit(" cwd=[", 1)
    return head[len("run cmdline=["):-1], cwd[:-1]


class LaunchAndUpgrade(harness.WineTestCase):
    def test_launch_upgrade_and_no_shell(self):
        p = self.prefix()
        p.host("C:\\Apps").mkdir()
        earlier = p.host("C:\\Apps\\Earlier")

        # A fresh installation into a folder of the user's choice, launched on Finish.
        setup = harness.pack(self.tmp / "v1", manifest(), {"Sample.exe": harness.fake_product()})
        w = Wizard(p, setup)
        self.assertTrue(w.click(ACCEPT))
        w.type(DIR_EDIT, "C:\\Apps\\Earlier")
        self.assertTrue(w.click(NEXT))
        s = w.state()
        self.assertEqual((s[LAUNCH].visible, s[LAUNCH].checked), (True, 1))
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)
        runs = wait_for_invocations(earlier)
        self.assertEqual(len(runs), 1, runs)
        command, cwd = parse_run(runs[0])
        self.assertIn("C:\\Apps\\Earlier\\Sample.exe", command)
        self.assertEqual(cwd.rstrip("\\"), "C:\\Apps\\Earlier")

        # The upgrade: accept box checked, Install, no destination page, and the
        # earlier folder used without the existing-folder question. Its own
        # launch command is expanded and opened in that folder.
        tools = p.host("C:\\Tools")
        tools.mkdir()
        (tools / "other.exe").write_bytes(harness.fake_product())
        (earlier / "invocations.log").unlink()
        setup2 = harness.pack(self.tmp / "v2", manifest(extra_product='launch_command = "%SystemDrive%\\\\Tools\\\\other.exe"\n')
                              .replace('version = "1.0"', 'version = "2.0"'),
                              {"Sample.exe": harness.fake_product()})
        w = Wizard(p, setup2)
        s = w.state()
        self.assertEqual(s.title, "License Agreement")
        self.assertEqual((s[ACCEPT].visible, s[ACCEPT].checked), (True, 1))
        self.assertEqual((s[NEXT].text, s[NEXT].enabled), ("&Install", True))
        self.assertEqual((s[DIR_EDIT].visible, s[DIR_EDIT].text), (False, "C:\\Apps\\Earlier\\"))
        self.assertTrue(s[PANE].visible)
        # Unchecking the box disables Install on the same page; Enter then does nothing.
        self.assertTrue(w.click(ACCEPT))
        s = w.state()
        self.assertEqual((s.title, s[NEXT].enabled, s[DIR_EDIT].visible), ("License Agreement", False, False))
        w.command(NEXT)
        self.assertEqual(w.state().title, "License Agreement")
        self.assertTrue(w.click(ACCEPT))
        self.assertTrue(w.state()[NEXT].enabled)
        self.assertTrue(w.click(NEXT))
        s = w.state()
        self.assertEqual(s.title, "Installation completed successfully")
        self.assertFalse(s[DIR_EDIT].visible)
        log = w.pane()
        self.assertTrue(log.startswith("Copy C:\\Apps\\Earlier\\Sample.exe\r\n"), log)
        self.assertNotIn("shortcut", log)  # shortcuts belong to the first installation
        self.assertTrue(w.click(CANCEL))
        r = w.finish()
        self.assertEqual((r.code, r.msgboxes), (0, []))
        runs = wait_for_invocations(tools)
        self.assertEqual(len(runs), 1, runs)
        command, cwd = parse_run(runs[0])
        self.assertIn("C:\\Tools\\other.exe", command)
        self.assertEqual(cwd.rstrip("\\"), "C:\\Apps\\Earlier")
        self.assertEqual(invocations(earlier), [])

        # No desktop shell at Finish: nothing starts, and the setup ends normally.
        (tools / "invocations.log").unlink()
        w = Wizard(p, setup2)
        self.assertTrue(w.click(NEXT))
        self.assertEqual(w.state()[LAUNCH].checked, 1)
        stop_desktop_shell(p)
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)
        self.assertEqual(wait_for_invocations(tools, timeout=8), [])
        self.assertEqual(invocations(earlier), [])

    def test_upgrade_from_an_unusable_location_installs_nothing(self):
        p = self.prefix()
        p.reg_set("32", UNINSTALL_KEY, "DisplayVersion", "sz", "0.9")
        p.reg_set("32", UNINSTALL_KEY, "InstallLocation", "sz", "Relative\\")
        setup = harness.pack(self.tmp / "setup", manifest(), {"Sample.exe": harness.fake_product()})
        cwd = self.tmp / "cwd"
        cwd.mkdir()
        w = Wizard(p, setup, cwd=cwd)
        s = w.state()
        self.assertEqual((s[ACCEPT].checked, s[NEXT].text, s[NEXT].enabled), (1, "&Install", False))
        # Toggling the box enables Install whatever the directory; Install
        # still refuses a location that is no absolute path.
        self.assertTrue(w.click(ACCEPT))
        self.assertTrue(w.click(ACCEPT))
        self.assertTrue(w.state()[NEXT].enabled)
        self.assertTrue(w.click(NEXT))
        s = w.state()
        self.assertEqual((s.title, s[PANE].visible), ("License Agreement", True))
        self.assertTrue(w.click(CANCEL))
        r = w.finish()
        self.assertEqual((r.code, r.msgboxes), (0, []))
        self.assertEqual(list(cwd.iterdir()), [])
        self.assertFalse(p.host("C:\\windows\\system32\\Relative").exists())


if __name__ == "__main__":
    unittest.main()
