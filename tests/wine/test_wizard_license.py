"""The licence text in the wizard's pane: RTF shown formatted, plain text in
the pane font, texts at the 64 KB scratch-buffer limit, no licence at all,
and rich text libraries planted beside the setup file."""
import shutil
import unittest

import harness
from wizard_driver import CANCEL, PANE, Wizard, manifest

RTF = (rb"{\rtf1\ansi\deff0{\fonttbl{\f0 Times New Roman;}}\f0\fs24 "
       rb"{\b Licence terms} for the Sample product.\par Second paragraph.}")


def sized_text(size):
    """Plain text of exactly size bytes in lines, with markers at both ends."""
    line = b"Lorem ipsum dolor sit amet, consectetur adipiscing elit.\r\n"
    body = b"BEGIN\r\n" + line * (size // len(line) + 1)
    return body[:size - 5] + b"\r\nEND"


class LicenseText(harness.WineTestCase):
    def setUp(self):
        super().setUp()
        self.p = self.prefix()

    def open_wizard(self, name, license_name, data, setup_dir=None):
        files = {"Sample.exe": harness.fake_product()}
        if license_name:
            files[license_name] = data
        setup = harness.pack(setup_dir or self.tmp / name, manifest(license=license_name), files)
        return Wizard(self.p, setup)

    def close(self, w):
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)

    def test_rtf_is_shown_formatted(self):
        w = self.open_wizard("rtf", "license.rtf", RTF)
        self.assertEqual(w.pane(), "Licence terms for the Sample product.\r\nSecond paragraph.")
        bold = w.char_format(0, 7)
        self.assertEqual((bold["bold"], bold["face"]), (True, "Times New Roman"))
        self.assertFalse(w.char_format(18, 21)["bold"])
        self.close(w)

    def test_plain_text_and_sizes(self):
        cases = [
            ("plain", "license.txt", b"{not rtf} Plain licence text.\r\nLine two."),
            ("scratch limit", "license.txt", sized_text(65535)),
            ("own block", "license.txt", sized_text(65536)),
            ("empty file", "license.txt", b""),
            ("no licence", None, None),
        ]
        for name, license_name, data in cases:
            with self.subTest(name):
                w = self.open_wizard(name.replace(" ", "-"), license_name, data)
                s = w.state()
                self.assertTrue(s[PANE].visible)
                text = w.pane()
                expected = (data or b"").decode("cp1252")
                self.assertEqual(len(text), len(expected))
                self.assertEqual(text, expected)
                if data:
                    plain = w.char_format(0, 1)
                    # The pane font asks for FIXED_PITCH (1), not DEFAULT_PITCH.
                    self.assertEqual((plain["bold"], plain["face"], plain["pitch_and_family"] & 3),
                                     (False, "MS Shell Dlg", 1))
                self.close(w)

    def test_planted_rich_text_libraries_are_not_loaded(self):
        folder = self.tmp / "planted"
        folder.mkdir()
        spy = harness.WIN_BUILD / "riched_spy.dll"
        for name in ("msftedit.dll", "riched20.dll"):
            shutil.copy(spy, folder / name)
        log = folder / "riched_spy.log"
        # Prefer a DLL found by search over Wine's own, as Windows would.
        self.p.env["WINEDLLOVERRIDES"] += ";msftedit,riched20=n,b"

        # The spy records a load by bare name from its folder.
        shutil.copy(harness.helper("wizard_probe"), folder / "probe_copy.exe")
        r = self.p.run(folder / "probe_copy.exe", "loadlib", "msftedit.dll", msgbox=False)
        self.assertEqual(r.code, 0, r.stdout)
        self.assertIn("loaded", log.read_text())
        log.unlink()

        w = self.open_wizard("planted", "license.rtf", RTF, setup_dir=folder)
        self.assertEqual(w.pane_class(), "RichEdit50W")
        self.assertEqual(w.pane(), "Licence terms for the Sample product.\r\nSecond paragraph.")
        self.close(w)
        self.assertFalse(log.exists(), log.read_text() if log.exists() else "")


if __name__ == "__main__":
    unittest.main()
