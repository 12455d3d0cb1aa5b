"""The wizard driven by real input (xdotool mouse clicks and keys on the
window), the order Tab takes on each page, the names screen readers get
for the controls without a label, with screenshots of its five pages written under the build folder
(wizard-screenshots/), and input queued while the files are written. Runs in
a Wine desktop window, where Wine draws the window frame, so that the
pictures show the whole window."""
import re
import time
import unittest

import harness
from wizard_driver import (ACCEPT, BACK, BROWSE, CANCEL, DESKTOP, DIR_EDIT, LAUNCH, NEXT, PANE, PROGRESS,
                           SCREENSHOTS, Wizard, gui_program, invocations, manifest, use_virtual_desktop, xdotool)

# Ends in large, bold, centred text: none of it may carry over to the log.
RTF = (rb"{\rtf1\ansi\deff0{\fonttbl{\f0 Times New Roman;}}\f0\fs24 {\b Licence terms for the Sample product}"
       rb"\par\par Permission is granted to use this software.\par\qc\b\fs32 Read carefully.}")


class RealInput(harness.WineTestCase):
    def click(self, w, cid, at_box=False):
        """A left click on the control; at_box: on a check box's square."""
        left, top, right, bottom = w.rect(cid)
        x = left + 6 if at_box else (left + right) // 2
        xdotool(self.p, "mousemove", x, (top + bottom) // 2, "click", "1")

    def assert_tab_order(self, w, stops):
        """Tab alone goes round the page's stops, in their order, and back;
        returns the control it ends on."""
        seen = []
        for _ in range(len(stops) + 1):
            xdotool(self.p, "key", "Tab")
            time.sleep(0.2)
            seen.append(w.state().focus)
        start = stops.index(seen[0]) if seen[0] in stops else 0
        self.assertEqual(seen, [stops[(start + i) % len(stops)] for i in range(len(stops) + 1)])
        return seen[-1]

    def assert_names(self, w, expected):
        """The accessible names of controls ({id: text}): read as a screen
        reader does where Wine's oleacc answers (it does not across
        processes); the annotations are checked in the run's trace."""
        names = w.names()
        for cid, text in expected.items():
            hwnd, result, name = names[cid]
            if result == 0:
                self.assertEqual(name, text, cid)
            self.annotations.append((hwnd, text))

    def assert_annotated(self, stderr):
        """Every name expected was given through the property service."""
        given = {(int(hwnd, 16), text) for hwnd, text in
                 re.findall(r'SetHwndPropStr \((\w+) 4294967292 0 \{608d3df8-8128-4aa7-a428-f55e49267291\} L"([^"]*)"\)',
                            stderr)}
        self.assertTrue(given)
        self.assertEqual([a for a in self.annotations if a not in given], [])

    def shot(self, w, name):
        time.sleep(0.7)  # let the page finish painting
        path = w.screenshot(name)
        self.assertGreater(path.stat().st_size, 1000)

    def test_installation_by_mouse_and_keyboard(self):
        self.p = p = self.prefix()
        use_virtual_desktop(p)
        p.host("C:\\Apps").mkdir()
        setup = harness.pack(self.tmp, manifest(license="license.rtf", extra_product='configure_args = "--seconds 6"\n'),
                             {"Data.bin": bytes(200000), "Sample.exe": gui_program(harness.fake_product()),
                              "license.rtf": RTF})
        for old in SCREENSHOTS.glob("wizard-*.png"):
            old.unlink()

        self.annotations = []
        w = Wizard(p, setup, debug="+oleacc")
        self.shot(w, "wizard-1-license.png")
        self.assert_names(w, {PANE: "License Agreement"})
        self.assertEqual(w.state().focus, ACCEPT)
        self.assertEqual(self.assert_tab_order(w, [ACCEPT, CANCEL, PANE]), CANCEL)
        # In the pane the licence is read line by line with the caret.
        xdotool(p, "key", "Tab", "Down")
        time.sleep(0.2)
        caret = w.probe("panetop").stdout.split()
        self.assertGreater(int(caret[2]), 0, caret)
        self.assertEqual(caret[2], caret[3])
        self.click(w, ACCEPT, at_box=True)
        s = w.wait_for(lambda s: s[DIR_EDIT].visible, what="the destination page")
        self.assertEqual(s[ACCEPT].checked, 1)
        self.shot(w, "wizard-2-destination.png")
        self.assert_tab_order(w, [DIR_EDIT, BROWSE, DESKTOP, BACK, NEXT, CANCEL])
        self.assert_names(w, {DIR_EDIT: "Where should Sample be installed?"})

        # Back with the mouse, and forward again with the box's mnemonic.
        self.click(w, BACK)
        s = w.wait_for(lambda s: s[PANE].visible, what="the licence page")
        self.assertEqual((s[ACCEPT].checked, s[NEXT].enabled), (0, False))
        xdotool(p, "key", "alt+a")
        w.wait_for(lambda s: s[DIR_EDIT].visible, what="the destination page")

        # Type the directory, then Enter.
        self.click(w, DIR_EDIT)
        xdotool(p, "key", "End", "shift+Home")
        xdotool(p, "type", "--delay", "30", "C:\\Apps\\Typed")
        s = w.wait_for(lambda s: s[DIR_EDIT].text == "C:\\Apps\\Typed", timeout=15, what="the typed directory")
        self.assertTrue(s[NEXT].enabled)
        xdotool(p, "key", "Return")

        # The configure command keeps the installing page up for a few seconds.
        s = w.wait_for(lambda s: s.title == "Installing", what="the installing page")
        self.assertEqual(s.subtitle, "Please wait while Setup installs Sample on your computer.")
        self.assertTrue(s[PROGRESS].visible and s[PANE].visible)
        self.assertFalse(s[CANCEL].enabled or s[NEXT].visible or s[BACK].visible)
        self.shot(w, "wizard-3-installing.png")
        self.assert_tab_order(w, [PANE])
        self.assert_names(w, {PANE: "Installing", PROGRESS: s.subtitle})
        # Escape while Cancel is disabled must not end the dialog mid-run.
        xdotool(p, "key", "Escape")
        w.command(CANCEL)

        s = w.wait_for(lambda s: s.title == "Installation completed successfully", what="the done page")
        self.assertEqual((s[LAUNCH].text, s[LAUNCH].checked), ("Launch Sample", 1))
        self.assertEqual(s.progress["pos"], 10000)
        log_format = w.char_format(0, 4)
        self.assertEqual((log_format["bold"], log_format["face"]), (False, "MS Shell Dlg"))
        self.shot(w, "wizard-4-done.png")
        # Finish is the default button, from the launch box too.
        self.assertEqual(self.assert_tab_order(w, [LAUNCH, CANCEL]), LAUNCH)
        xdotool(p, "key", "space")
        w.wait_for(lambda s: s[LAUNCH].checked == 0, timeout=15, what="the launch box unchecked")
        xdotool(p, "key", "Return")
        r = w.finish()
        self.assertEqual(r.code, 0)
        self.assert_annotated(r.stderr)

        target = p.host("C:\\Apps\\Typed")
        self.assertTrue((target / "Sample.exe").exists())
        time.sleep(5)
        runs = [line for line in invocations(target) if line.startswith("run ")]
        self.assertEqual(len(runs), 1, runs)  # the configure command, and no launch
        self.assertIn("--seconds 6", runs[0])

        # The upgrade fails on a file held open by a running copy.
        tools = p.host("C:\\Tools")
        tools.mkdir()
        (tools / "locker.exe").write_bytes(harness.fake_product())
        p.start(tools / "locker.exe", "--lock", "C:\\Apps\\Typed\\Sample.exe", "none",
                "--ready", "C:\\Tools\\ready", msgbox=False)
        deadline = time.time() + 60
        while not (tools / "ready").exists():
            self.assertLess(time.time(), deadline, "the locker did not start")
            time.sleep(0.2)
        w = Wizard(p, setup)
        s = w.state()
        self.assertEqual((s[NEXT].text, s[NEXT].enabled), ("&Install", True))
        self.click(w, NEXT)
        s = w.wait_for(lambda s: s.title == "Installation failed", what="the failed page")
        self.assertIn("Failed to write file: C:\\Apps\\Typed\\Sample.exe, code: 32\r\n", w.pane())
        self.assertEqual(s.progress["colour"], 0x0000F0)
        self.shot(w, "wizard-5-failed.png")
        # The focus is on Finish; Escape, from the pane too, ends the wizard.
        self.assertEqual(s.focus, CANCEL)
        self.assertEqual(self.assert_tab_order(w, [PANE, CANCEL]), PANE)
        xdotool(p, "key", "Escape")
        self.assertEqual(w.finish().code, 0)
        self.assertEqual(sorted(f.name for f in SCREENSHOTS.glob("wizard-*.png")),
                         ["wizard-1-license.png", "wizard-2-destination.png", "wizard-3-installing.png",
                          "wizard-4-done.png", "wizard-5-failed.png"])

    def test_input_during_the_file_phase_does_not_press_finish(self):
        """A click on Cancel and Enter, queued while the files are written,
        are gone by the time Cancel has become Finish."""
        p = self.prefix()
        files = {f"d{i // 500}/{i:04d}": b"" for i in range(3000)}
        files["Sample.exe"] = harness.fake_product()
        w = Wizard(p, harness.pack(self.tmp, manifest(), files))
        self.assertTrue(w.click(ACCEPT))
        w.type(DIR_EDIT, "C:\\Q")
        fields = w.probe("answers", "input").stdout.split()
        self.assertEqual(fields[0], "answers", fields)
        self.assertEqual(fields[4], "1", "the input came after the run")
        self.assertEqual(fields[5], "stayed")
        s = w.state()
        self.assertEqual((s.title, s[CANCEL].text, s[LAUNCH].checked), ("Installation completed successfully", "&Finish", 0))
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)


if __name__ == "__main__":
    unittest.main()
