"""The wizard on screens of 96, 144 and 192 dpi (Wine's LogPixels), and moved
from screen to screen (WM_DPICHANGED): the fonts and the pane's inset made in
code grow with the DPI as the template's dialog units do, the layout keeps
its proportions and no label is wider than its control; back at the first
DPI every control is where it was. Screenshots of the licence, destination
and installing pages at each DPI are written under the build folder
(wizard-screenshots/dpi-*.png, and dpi-change-*.png after a move).
The controls are measured in the wizard's own process (wizard_probe layout),
where their fonts are."""
import time
import unittest

import harness
from wizard_driver import (ACCEPT, BACK, BAND, BROWSE, CANCEL, DESKTOP, DIR_EDIT, FRAME, ICON, LAUNCH, NEXT, PANE,
                           PROGRESS, SCREENSHOTS, SUBTITLE, TITLE, Wizard, gui_program, manifest, set_screen_dpi,
                           use_virtual_desktop)

DPIS = (96, 144, 192)
# Sizes the wizard gives in pixels at 96 dpi.
TITLE_CELL, PANE_INSET = 12, 7
LABELS = (BACK, NEXT, CANCEL, ACCEPT, BROWSE, DESKTOP, TITLE, SUBTITLE)
CHECK_BOXES = {ACCEPT, DESKTOP}
BUTTONS = (BACK, NEXT, CANCEL)
# Controls whose place, as a fraction of the client area, must not move with the DPI.
PLACED = (BACK, NEXT, CANCEL, ACCEPT, FRAME, PANE, DIR_EDIT, BROWSE, DESKTOP, PROGRESS, BAND, TITLE, SUBTITLE, ICON)
LICENSE = b"Licence terms for the Sample product.\r\nRead them before you install it.\r\n"


def scaled(pixels, dpi):
    """MulDiv(pixels, dpi, 96)."""
    return (pixels * dpi + 48) // 96


def size(rect):
    return rect[2] - rect[0], rect[3] - rect[1]


def inside(inner, outer):
    return outer[0] <= inner[0] and outer[1] <= inner[1] and inner[2] <= outer[2] and inner[3] <= outer[3]


def within(control, client):
    """The control's layout line with its rectangle in client coordinates."""
    r = control["rect"]
    return dict(control, rect=(r[0] - client[0], r[1] - client[1], r[2] - client[0], r[3] - client[1]))


def fractions(rect, client):
    width, height = size(client)
    return ((rect[0] - client[0]) / width, (rect[1] - client[1]) / height,
            (rect[2] - client[0]) / width, (rect[3] - client[1]) / height)


class ScreenDpi(harness.WineTestCase):
    def shot(self, w, name):
        time.sleep(0.7)  # let the page finish painting
        self.assertGreater(w.screenshot(name).stat().st_size, 1000)

    def walk(self, setup, dpi):
        """The wizard at dpi from the licence to the done page, with a
        screenshot of each page on the way; returns its layout on the
        licence page and the pane's text height in twips."""
        p = self.prefix()
        use_virtual_desktop(p, "1280x1024")
        set_screen_dpi(p, dpi)
        w = Wizard(p, setup)
        layout = w.layout()
        twips = w.char_format(0, 4)["height"]
        self.shot(w, f"dpi-{dpi}-1-license.png")
        self.assertTrue(w.click(ACCEPT))
        w.wait_for(lambda s: s[DIR_EDIT].visible, what="the destination page")
        self.shot(w, f"dpi-{dpi}-2-destination.png")
        self.assertTrue(w.click(NEXT, wait=False))
        # The configure command keeps the installing page up for a few seconds.
        w.wait_for(lambda s: s.title == "Installing", what="the installing page")
        self.shot(w, f"dpi-{dpi}-3-installing.png")
        w.wait_for(lambda s: s[CANCEL].enabled, what="the done page")
        self.assertTrue(w.click(LAUNCH))
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)
        return layout, twips

    def assert_fits(self, layout, dpi):
        client = layout["client"]
        for cid in LABELS:
            control = layout[cid]
            width, height = size(control["rect"])
            text_width, text_height = control["text"]
            self.assertGreater(text_width, 0, f"control {cid} has no text to measure")
            # A check box's text starts after its box, about a line high.
            box = control["cell"] if cid in CHECK_BOXES else 0
            self.assertLessEqual(text_width + box, width, f"control {cid}'s text is clipped at {dpi} dpi")
            self.assertLessEqual(text_height, height, f"control {cid}'s text is clipped at {dpi} dpi")
        band = layout[BAND]["rect"]
        self.assertTrue(band[0] <= client[0] and band[1] <= client[1] and band[2] >= client[2],
                        f"the header band does not span the width at {dpi} dpi: {band} in {client}")
        for cid in (TITLE, SUBTITLE, ICON):
            self.assertTrue(inside(layout[cid]["rect"], band), f"control {cid} outside the header band at {dpi} dpi")
        self.assertTrue(inside(layout[ICON]["rect"], client))
        self.assertLessEqual(layout[TITLE]["rect"][2], layout[ICON]["rect"][0])
        for cid in (PROGRESS, FRAME) + BUTTONS:
            self.assertTrue(inside(layout[cid]["rect"], client), f"control {cid} outside the dialog at {dpi} dpi")
        bar, frame = layout[PROGRESS]["rect"], layout[FRAME]["rect"]
        self.assertGreater(bar[1], layout[BAND]["rect"][3])
        self.assertLess(bar[3], min(layout[cid]["rect"][1] for cid in BUTTONS))
        self.assertTrue(inside(layout[PANE]["rect"], frame))

    def assert_measures(self, layout, twips, base, base_twips, dpi):
        """layout at dpi against base, the layout at 96 dpi."""
        self.assert_fits(layout, dpi)
        title = layout[TITLE]
        self.assertEqual(title["weight"], 700)
        self.assertLessEqual(abs(title["cell"] - scaled(TITLE_CELL, dpi)), 1, title)
        # The pane's text keeps its size in points: its pixels grow with the DPI.
        self.assertLessEqual(abs(twips - base_twips), abs(base_twips) * 0.1, (twips, base_twips))
        # The pane's own text rectangle lies inside it by the inset.
        grown = [layout["inset"][i] - base["inset"][i] for i in (0, 1)]
        expected = scaled(PANE_INSET, dpi) - PANE_INSET
        self.assertTrue(all(abs(g - expected) <= 1 for g in grown), (layout["inset"], base["inset"]))
        # The dialog grows with its font, which the DPI sizes.
        for now, then in zip(size(layout["client"]), size(base["client"])):
            self.assertAlmostEqual(now / then, dpi / 96, delta=0.12 * dpi / 96)
        for cid in PLACED:
            got = fractions(layout[cid]["rect"], layout["client"])
            want = fractions(base[cid]["rect"], base["client"])
            self.assertTrue(all(abs(g - h) < 0.02 for g, h in zip(got, want)),
                            f"control {cid} moved at {dpi} dpi: {got} against {want}")

    def test_layout_follows_a_change_of_dpi(self):
        """96 -> 144 -> 192 -> 96 dpi, each suggested window as the dialog's
        size at that DPI, the licence scrolled down meanwhile."""
        licence = "".join(f"Licence line {n} of the Sample product.\r\n" for n in range(80)).encode()
        setup = harness.pack(self.tmp, manifest(license="license.txt"),
                             {"Sample.exe": harness.fake_product(), "license.txt": licence})
        p = self.prefix()
        use_virtual_desktop(p, "1280x1024")
        set_screen_dpi(p, 96)
        w = Wizard(p, setup)
        # The licence opens at its start, the caret there too.
        self.assertEqual(w.probe("panetop").stdout.split(), ["panetop", "0", "0", "0"])
        base, base_twips = w.layout(), w.char_format(0, 4)["height"]
        top = w.probe("panetop", "20").stdout.split()
        self.assertEqual(top[1], "20")
        frame = [a - b for a, b in zip(size(w.rect(0)), size(base["client"]))]
        for dpi in (144, 192, 96):
            with self.subTest(dpi=dpi):
                # At the desktop's corner: the largest is in view whole.
                width, height = (scaled(n, dpi) + f for n, f in zip(size(base["client"]), frame))
                w.probe("dpi-change", str(dpi), "0", "0", str(width), str(height))
                # The pane keeps the reader's place in its text.
                self.assertEqual(w.probe("panetop").stdout.split(), top)
                self.shot(w, f"dpi-change-{dpi}-license.png")
                layout = w.layout()
                self.assertEqual(size(layout["client"]), tuple(scaled(n, dpi) for n in size(base["client"])))
                # (Reading the format moves the caret to the start, and the view with it.)
                self.assert_measures(layout, w.char_format(0, 4)["height"], base, base_twips, dpi)
                self.assertEqual(w.probe("panetop", "20").stdout.split(), top)
        # Back at 96 dpi nothing has drifted by a pixel.
        self.assertEqual((size(layout["client"]), layout["inset"]), (size(base["client"]), base["inset"]))
        for cid in set(base) - {"dpi", "client", "inset"}:
            self.assertEqual(within(layout[cid], layout["client"]), within(base[cid], base["client"]), cid)
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)

    def test_layout_follows_the_screen_dpi(self):
        setup = harness.pack(self.tmp, manifest(license="license.txt", extra_product='configure_args = "--seconds 3"\n'),
                             {"Sample.exe": gui_program(harness.fake_product()), "license.txt": LICENSE})
        for old in SCREENSHOTS.glob("dpi-[0-9]*.png"):
            old.unlink()
        walks = {dpi: self.walk(setup, dpi) for dpi in DPIS}
        base, base_twips = walks[96]
        for dpi, (layout, twips) in walks.items():
            with self.subTest(dpi=dpi):
                self.assertEqual(layout["dpi"], dpi)
                self.assert_measures(layout, twips, base, base_twips, dpi)
        self.assertEqual(sorted(f.name for f in SCREENSHOTS.glob("dpi-[0-9]*.png")),
                         sorted(f"dpi-{dpi}-{page}.png" for dpi in DPIS
                                for page in ("1-license", "2-destination", "3-installing")))


if __name__ == "__main__":
    unittest.main()
