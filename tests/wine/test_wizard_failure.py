"""A failed installation in the wizard: a target file held open by another
program (without FE_REPLACE_LOCKED) ends on the failed page, with the bar in
its red error state and the failure line in the log; Finish starts nothing.
A package damaged after the part the wizard starts from refuses on Install,
before anything is written."""
import random
import time
import unittest

import harness
from wizard_driver import (ACCEPT, BACK, CANCEL, DIR_EDIT, FRAME, LAUNCH, NEXT, PANE, PROGRESS,
                           UNINSTALL_KEY, Wizard, invocations, manifest)


class FailedInstallation(harness.WineTestCase):
    def test_locked_file_fails_the_run(self):
        p = self.prefix()
        files = [("big.dat", ""), ("Sample.exe", "")]
        big, program = bytes(range(256)) * 1200, harness.fake_product()
        setup = harness.pack(self.tmp, manifest(files=files), {"big.dat": big, "Sample.exe": program})
        # An earlier copy of the product sits in the target folder, held open
        # without sharing by a program that runs from elsewhere.
        target = p.host("C:\\Locked")
        target.mkdir()
        (target / "Sample.exe").write_bytes(harness.fake_product())
        tools = p.host("C:\\Tools")
        tools.mkdir()
        (tools / "locker.exe").write_bytes(harness.fake_product())
        locker = p.start(tools / "locker.exe", "--lock", "C:\\Locked\\Sample.exe", "none",
                         "--ready", "C:\\Tools\\ready", msgbox=False)
        deadline = time.time() + 60
        while not (tools / "ready").exists():
            self.assertLess(time.time(), deadline, "the locker did not start")
            time.sleep(0.2)
        self.assertNotIn("lock failed", "".join(invocations(tools)))

        w = Wizard(p, setup)
        self.assertTrue(w.click(ACCEPT))
        w.type(DIR_EDIT, "C:\\Locked")
        self.assertTrue(w.click(NEXT, wait=False))
        self.assertIsNotNone(p.answer("Sample", 6), "no folder question")  # Yes: use the folder
        s = w.wait_for(lambda s: s[CANCEL].enabled and s.title != "Select Destination Location",
                       what="the end of the run")

        self.assertEqual((s.title, s.subtitle), ("Installation failed", "Click Finish to exit Setup."))
        self.assertEqual((s[CANCEL].text, s[CANCEL].enabled), ("&Finish", True))
        visible = s.visible_ids()
        self.assertTrue({PANE, FRAME, PROGRESS, CANCEL} <= visible, visible)
        self.assertFalse({NEXT, BACK, ACCEPT, LAUNCH, DIR_EDIT} & visible, visible)
        self.assertEqual(w.pane(), "Copy C:\\Locked\\big.dat\r\n"
                                   "Copy C:\\Locked\\Sample.exe\r\n"
                                   "Failed to write file: C:\\Locked\\Sample.exe, code: 32\r\n")
        # The file phase filled the bar with big.dat before the failure; the
        # filled part is drawn in the error colour (COLORREF 0x00BBGGRR).
        bar = s.progress
        self.assertEqual((bar["low"], bar["high"]), (0, 10000))
        self.assertEqual(bar["pos"], len(big) * 5000 // (len(big) + len(program)))
        self.assertEqual(bar["colour"], 0x0000F0, bar)
        red, green, blue = bar["pixel"] & 0xFF, (bar["pixel"] >> 8) & 0xFF, (bar["pixel"] >> 16) & 0xFF
        self.assertTrue(red > 180 and green < 80 and blue < 80, bar)

        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)
        time.sleep(5)
        # Finish launched nothing: the old copy in the folder would have logged.
        self.assertEqual(invocations(target), [])
        self.assertIsNone(p.reg_query("32", UNINSTALL_KEY, "DisplayVersion"))
        p.kill()
        p.finish(locker, 30)

    def test_damage_after_the_prefix_refuses_on_install(self):
        p = self.prefix()
        # Data that does not compress, so that the compressed stream's second
        # half is file data, long after the licence.
        noise = random.Random(7).randbytes(3 << 20)
        files = [("license.txt", ""), ("noise.dat", ""), ("Sample.exe", "")]
        good = harness.pack(self.tmp / "good", manifest(license="license.txt", files=files),
                            {"license.txt": b"Terms", "noise.dat": noise, "Sample.exe": harness.fake_product()})
        trailer = harness.inspect(good)["trailer"]
        data = bytearray(good.read_bytes())
        data[trailer["packed_offset"] + trailer["packed_size"] * 3 // 4] ^= 0x10
        setup = self.tmp / "damaged.exe"
        setup.write_bytes(data)

        w = Wizard(p, setup)  # the wizard appears from the verified prefix
        self.assertTrue(w.click(ACCEPT))
        w.type(DIR_EDIT, "C:\\Damaged")
        self.assertTrue(w.click(NEXT, wait=False))
        shown = p.answer("Error", 1)
        self.assertIsNotNone(shown, "no damaged message")
        self.assertIn("\nowner\tSetup - Sample 1.0\n", shown)  # modal to the wizard
        result = w.finish()
        self.assertEqual(result.code, 1)
        self.assertEqual(result.msgboxes, ["This setup package is damaged!"])
        # The box's icon is the start-up refusals' (test_startup sees it).
        self.assertFalse(p.host("C:\\Damaged").exists(), "nothing written")
        self.assertIsNone(p.reg_query("32", UNINSTALL_KEY, "DisplayVersion"))


if __name__ == "__main__":
    unittest.main()
