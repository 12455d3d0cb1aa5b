"""The wizard of a fresh installation, driven control by control: the licence
and destination pages, the directory rules, the existing-folder question, a
full installation to the done page, the log and bar of a long file phase, a
wizard that answers all through a longer one, the folder browser, Cancel, the
header in a high-contrast scheme's colours, the shipped translations in
Japanese and German, and the mirrored wizard of Arabic, Hebrew and a language
marked rtl (with screenshots under the build folder,
wizard-screenshots/languages-*.png and right-to-left-*.png)."""
import json
import subprocess
import time
import unittest

import harness
from wizard_driver import (ACCEPT, BACK, BAND, BROWSE, CANCEL, DESKTOP, DIR_EDIT, FRAME, ICON, LAUNCH, NEXT,
                           PANE, PROGRESS, SCREENSHOTS, SUBTITLE, TITLE, UNINSTALL_KEY, Wizard, invocations,
                           manifest, set_system_colours, use_virtual_desktop)

WS_EX_LEFTSCROLLBAR, WS_EX_LAYOUTRTL = 0x4000, 0x400000
RTF = rb"{\rtf1\ansi\deff0{\fonttbl{\f0 Times New Roman;}}\f0\fs24 {\b Licence terms} for the Sample product.\par End.}"
LICENSE_PAGE = {ACCEPT, PANE, FRAME, CANCEL, NEXT}
DESTINATION_PAGE = {BACK, NEXT, CANCEL, DIR_EDIT, BROWSE, DESKTOP}
CURRENT_VERSION = r"SOFTWARE\Microsoft\Windows\CurrentVersion"
FOLDER_QUESTION = ("The folder:\r\n\r\n{}\r\n\r\nalready exists. "
                   "Would you like to install to that folder anyway?")


def page_controls(state):
    """The visible controls that make up a page (header and separators aside)."""
    return state.visible_ids() & (LICENSE_PAGE | DESTINATION_PAGE | {PROGRESS, LAUNCH})


class FreshInstallation(harness.WineTestCase):
    def setUp(self):
        super().setUp()
        self.p = self.prefix()
        self.setup = harness.pack(self.tmp, manifest(license="license.rtf"),
                                  {"Sample.exe": harness.fake_product(), "license.rtf": RTF})
        program_files = self.p.reg_query("32", CURRENT_VERSION, "ProgramFilesDir")["ProgramFilesDir"][2]
        self.default_dir = program_files + "\\Sample"

    def assert_license_page(self, s):
        self.assertEqual(page_controls(s), LICENSE_PAGE)
        self.assertEqual((s.title, s.subtitle),
                         ("License Agreement", "Please read the following important information before continuing."))
        self.assertEqual(s[ACCEPT].checked, 0)
        self.assertEqual(s[NEXT].text, "&Next >")
        self.assertFalse(s[NEXT].enabled)

    def assert_destination_page(self, s):
        self.assertEqual(page_controls(s), DESTINATION_PAGE)
        self.assertEqual((s.title, s.subtitle), ("Select Destination Location", "Where should Sample be installed?"))
        self.assertEqual(s[NEXT].text, "&Next >")

    def test_walk_from_licence_to_done(self):
        self.p.host("C:\\Existing").mkdir()
        w = Wizard(self.p, self.setup)
        s = w.state()
        self.assertEqual(s.caption, "Setup - Sample 1.0")
        self.assert_license_page(s)
        self.assertEqual(s[DESKTOP].checked, 1)
        self.assertEqual(s[DIR_EDIT].text, self.default_dir)
        labels = {cid: s[cid].text for cid in (BACK, CANCEL, ACCEPT, BROWSE, DESKTOP)}
        self.assertEqual(labels, {BACK: "< &Back", CANCEL: "Cancel", ACCEPT: "I &accept the agreement",
                                  BROWSE: "&Browse...", DESKTOP: "Create a &desktop shortcut"})

        # Enter (IDOK) while Next is disabled does nothing; nor can it be clicked.
        w.command(NEXT)
        self.assertFalse(w.click(NEXT))
        self.assert_license_page(w.state())
        self.assertFalse(self.p.host(self.default_dir).exists())

        # The accept box moves on; Back returns with it unchecked.
        self.assertTrue(w.click(ACCEPT))
        s = w.state()
        self.assert_destination_page(s)
        self.assertTrue(s[NEXT].enabled)
        self.assertEqual(s[DIR_EDIT].text, self.default_dir)
        self.assertTrue(w.click(BACK))
        self.assert_license_page(w.state())
        self.assertTrue(w.click(ACCEPT))
        self.assert_destination_page(w.state())

        # The directory rule, judged as the user types.
        cases = [
            ("apps\\sample", False),
            ("D", False),
            ("C:", True),
            ("\\\\server\\share", True),
            ("\\\\", False),
            ("   ", False),
            ("  C:\\Data  ", True),
            ("", False),
        ]
        for text, enabled in cases:
            with self.subTest(text=text):
                self.assertEqual(w.type(DIR_EDIT, text), text)
                self.assertEqual(w.state()[NEXT].enabled, enabled)
        self.assertEqual(len(w.type(DIR_EDIT, "C:\\" + "x" * 300)), 259)

        # An existing folder: the question, and No keeps the page.
        w.type(DIR_EDIT, "C:\\Existing")
        self.assertTrue(w.click(NEXT, wait=False))
        shown = self.p.answer("Sample", 7)
        self.assertIsNotNone(shown, "no folder question")
        self.assertIn("C:\\Existing\\", shown)
        s = w.wait_for(lambda s: s[NEXT].enabled, what="the destination page back after No")
        self.assert_destination_page(s)

        # A missing parent: nothing visible happens and nothing is created.
        w.type(DIR_EDIT, "C:\\Missing\\Parent\\Sample")
        self.assertTrue(w.click(NEXT))
        self.assert_destination_page(w.state())
        self.assertFalse(self.p.host("C:\\Missing").exists())
        # A folder that leaves no room for "Sample.exe" in 259 characters is
        # refused before it is made, so no empty folder is left to ask about.
        too_long = "C:\\" + "y" * 250
        w.type(DIR_EDIT, too_long)
        self.assertTrue(w.click(NEXT))
        self.assert_destination_page(w.state())
        self.assertFalse(self.p.host(too_long).exists())

        # The installation itself, to the done page.
        w.type(DIR_EDIT, self.default_dir)
        self.assertTrue(w.click(NEXT))
        s = w.state()
        self.assertEqual((s.title, s.subtitle), ("Installation completed successfully", "Click Finish to exit Setup."))
        self.assertEqual(page_controls(s), {CANCEL, LAUNCH})
        self.assertEqual((s[CANCEL].text, s[CANCEL].enabled), ("&Finish", True))
        self.assertEqual((s[LAUNCH].text, s[LAUNCH].checked), ("Launch Sample", 1))
        log = w.pane()
        self.assertTrue(log.startswith(f"Copy {self.default_dir}\\Sample.exe\r\n"), log)
        self.assertTrue(log.endswith("\r\nEnd"), log)
        self.assertTrue((self.p.host(self.default_dir) / "Sample.exe").exists())

        # Enter on the done page must not start a second run.
        w.command(NEXT)
        self.assertEqual(w.pane(), log)
        self.assertEqual(w.state().title, "Installation completed successfully")

        # Finish with the launch box unchecked starts nothing.
        self.assertTrue(w.click(LAUNCH))
        self.assertEqual(w.state()[LAUNCH].checked, 0)
        self.assertTrue(w.click(CANCEL))
        r = w.finish()
        self.assertEqual(r.code, 0)
        self.assertEqual(r.msgboxes, [FOLDER_QUESTION.format("C:\\Existing\\")])
        time.sleep(5)
        self.assertEqual(invocations(self.p.host(self.default_dir)), [])

    def test_long_file_phase_log_and_bar(self):
        """Many files in a package of 1 MiB chunks, written as the decoders
        deliver them: the pane ends up with exactly the lines appended one by
        one would give, the pane or the bar visibly moves all along, and every
        file is whole."""
        target = "C:\\L"
        # A path of 250 characters: its line is cut at 255 and loses its line break.
        deep = "\\".join(["d" * 60] * 3) + "\\" + "n" * 62
        names = [f"f{i // 100}\\file{i:04d}.bin" for i in range(1500)]
        names.insert(700, deep)
        files = {name.replace("\\", "/"): bytes([i % 251]) * 20000 + bytes(range(256)) for i, name in enumerate(names)}
        # Tiny files with long lines come faster than the pane takes them:
        # the held lines fill up and the writer waits for room.
        crowded = [f"{'p' * 100}\\{'q' * 100}\\g{i:04d}.txt" for i in range(1200)]
        files.update({name.replace("\\", "/"): b"x" for name in crowded})
        names += crowded
        entries = [(name.replace("\\", "/"), f'name = "{name.replace(chr(92), chr(92) * 2)}"\n') for name in names]
        entries.append(("Sample.exe", ""))
        files["Sample.exe"] = harness.fake_product()
        setup = harness.pack(self.tmp / "long", manifest(files=entries), files, extra_args=["--chunk-size", "1M"])
        w = Wizard(self.p, setup)
        self.assertTrue(w.click(ACCEPT))
        w.type(DIR_EDIT, target)
        fields = w.probe("install", "watch").stdout.split("\t")
        self.assertEqual(fields[0], "installed", fields)
        changes, longest_gap_ms = int(fields[4]), float(fields[5])
        self.assertEqual(w.state().title, "Installation completed successfully")

        # In the package's table order, which a chunked package's data order sets.
        order = [e["name"] for e in harness.inspect(setup)["entries"]]
        self.assertEqual(sorted(order), sorted(names + ["Sample.exe"]))
        copies = "".join(f"Copy {target}\\{name}\r\n"[:255] for name in order)
        self.assertEqual(len(f"{target}\\{deep}"), 250)
        log = w.pane()
        self.assertEqual(log[:len(copies)], copies)
        self.assertEqual(log[len(copies):], "Create desktop shortcut\r\nCreate start menu shortcut\r\nEnd")
        # The old way redrew after every line and chunk; batches must still
        # come often. Generous against a loaded machine: the aim is 250 ms.
        self.assertGreater(changes, 5)
        self.assertLess(longest_gap_ms, 500)
        root = self.p.host(target)
        for name, data in files.items():
            self.assertEqual((root / name).read_bytes(), data, name)
        self.assertTrue(w.click(LAUNCH))
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)

    def test_wizard_answers_all_through_the_file_phase(self):
        """Windows shows a window as not responding once its thread has left
        its messages for 5 s: sampled every 250 ms, the wizard answers each
        time within a second, however long the files take."""
        names = [f"d{i // 500:02d}/{i:05d}" for i in range(30000)]
        files = dict.fromkeys(names, b"")
        files["Sample.exe"] = harness.fake_product()
        setup = harness.pack(self.tmp / "many", manifest(), files)
        w = Wizard(self.p, setup)
        self.assertTrue(w.click(ACCEPT))
        w.type(DIR_EDIT, "C:\\M")
        fields = w.probe("answers").stdout.split("\t")
        self.assertEqual(fields[0], "answers", fields)
        samples, unanswered = int(fields[1]), int(fields[3])
        self.assertGreater(samples, 20, fields)  # a file phase longer than those 5 s
        self.assertEqual(unanswered, 0, fields)
        self.assertEqual(w.state().title, "Installation completed successfully")
        self.assertTrue((self.p.host("C:\\M") / names[-1]).exists())
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)

    def test_cancel_before_installing_writes_nothing(self):
        # Cancel on the licence page, then Escape (IDCANCEL) on the destination page.
        for page in ("licence", "destination"):
            with self.subTest(page=page):
                w = Wizard(self.p, self.setup)
                if page == "licence":
                    self.assertTrue(w.click(CANCEL))
                else:
                    self.assertTrue(w.click(ACCEPT))
                    self.assert_destination_page(w.state())
                    w.command(CANCEL)
                r = w.finish()
                self.assertEqual((r.code, r.msgboxes), (0, []))
                self.assertFalse(self.p.host(self.default_dir).exists())
                self.assertIsNone(self.p.reg_query("32", UNINSTALL_KEY, "DisplayVersion"))

    def test_header_in_the_system_colours(self):
        """The header band and its texts take the window colours of the
        scheme, here a high-contrast one's: nothing stays white or black."""
        set_system_colours(self.p, Window="0 0 0", WindowText="255 255 0")
        w = Wizard(self.p, self.setup)
        time.sleep(0.7)  # let the page finish painting
        band = w.colours(BAND)
        self.assertEqual(band[0][0], 0x000000, band)
        for cid in (TITLE, SUBTITLE):
            colours = dict(w.colours(cid))
            self.assertGreater(colours.get(0x00FFFF, 0), 20, (cid, colours))
            self.assertNotIn(0xFFFFFF, colours, cid)
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)

    def test_folder_browser(self):
        setup = harness.pack(self.tmp / "browse", manifest(extra_product='default_install_dir = "%SystemDrive%\\\\Elsewhere"\n'),
                             {"Sample.exe": harness.fake_product()})
        self.p.host("C:\\Apps\\Sample").mkdir(parents=True)
        w = Wizard(self.p, setup)
        self.assertTrue(w.click(ACCEPT))
        # The package's directory, expanded, without the product folder.
        self.assertEqual(w.state()[DIR_EDIT].text, "C:\\Elsewhere")

        def pick(path):
            """Opens the browser, picks path ("" for its preselection, None to
            cancel) and returns the field's text before and after."""
            before = w.state()[DIR_EDIT].text
            self.assertTrue(w.click(BROWSE, wait=False))
            self.assertEqual(w.probe("browse-open").code, 0, "no folder browser")
            if path is None:
                self.assertEqual(w.probe("browse-cancel").code, 0)
            else:
                if path:
                    self.assertEqual(w.probe("browse-select", path).code, 0)
                self.assertEqual(w.probe("browse-ok").code, 0)
            deadline = time.time() + 30
            while w.probe("browse-open", "0").code == 0:
                self.assertLess(time.time(), deadline, "the folder browser stays open")
                time.sleep(0.3)
            return before, w.state()[DIR_EDIT].text

        # OK at once: the browser opened on the program-files directory.
        self.assertEqual(pick("")[1], self.default_dir)
        self.assertEqual(pick("C:\\Apps")[1], "C:\\Apps\\Sample")
        self.assertEqual(pick("C:\\Apps\\Sample")[1], "C:\\Apps\\Sample\\Sample")
        before, after = pick(None)
        self.assertEqual(after, before)
        self.assertTrue(w.state()[NEXT].enabled)
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)

    def test_translated_browse_label_is_not_clipped(self):
        sample = (harness.ROOT / "sample" / "manifest.toml").read_text()
        languages = sample[sample.index("[[language]]"):]
        setup = harness.pack(self.tmp / "de", manifest() + "\n" + languages, {"Sample.exe": harness.fake_product()})
        rects = {}
        for locale in ("en_US.UTF-8", "de_DE.UTF-8"):
            self.p.env["LC_ALL"] = locale
            w = Wizard(self.p, setup)
            self.assertTrue(w.click(ACCEPT))
            rects[locale] = (w.state()[BROWSE].text, w.rect(BROWSE), w.rect(DIR_EDIT))
            self.assertTrue(w.click(CANCEL))
            self.assertEqual(w.finish().code, 0)
        (en_label, en_button, en_field), (de_label, de_button, de_field) = rects.values()
        self.assertEqual((en_label, de_label), ("&Browse...", "&Durchsuchen..."))
        # The English label fits the template's button; the German one takes
        # room from the field, on the same row, without overlapping it.
        grow = (de_button[2] - de_button[0]) - (en_button[2] - en_button[0])
        self.assertGreater(grow, 0)
        self.assertEqual(de_button[2], en_button[2])
        self.assertEqual(de_field[2], en_field[2] - grow)
        self.assertEqual(de_button[0] - de_field[2], en_button[0] - en_field[2])

    def test_shipped_translations_in_japanese_and_german(self):
        r = subprocess.run([str(harness.PACKER), "languages", "--json"], capture_output=True, text=True, check=True)
        shipped = {language["tag"]: language["texts"] for language in json.loads(r.stdout)}
        self.assertEqual(shipped["ja"]["TXT_LICENSE_TITLE"], "使用許諾契約")
        self.assertEqual(shipped["de"]["TXT_NEXT"], "&Weiter >")
        setup = harness.pack(self.tmp / "ja-de", 'languages = ["ja", "de"]\n' + manifest(license="license.rtf"),
                             {"Sample.exe": harness.fake_product(), "license.rtf": RTF})
        # In a Wine desktop window the pictures show the frame and its caption too.
        use_virtual_desktop(self.p)
        for old in SCREENSHOTS.glob("languages-*.png"):
            old.unlink()

        def shot(w, name):
            time.sleep(0.7)  # let the page finish painting
            self.assertGreater(w.screenshot(name).stat().st_size, 1000)

        # German and Japanese users see their own, anyone else the first listed;
        # the Japanese run installs, last.
        for locale, tag in (("de_DE.UTF-8", "de"), ("fr_FR.UTF-8", "ja"), ("ja_JP.UTF-8", "ja")):
            texts = shipped[tag]
            self.p.env["LC_ALL"] = locale
            w = Wizard(self.p, setup)
            s = w.state()
            self.assertEqual(s.caption, texts["TXT_TITLE_FMT"].replace("%s", "Sample 1.0"), locale)
            self.assertEqual((s.title, s.subtitle), (texts["TXT_LICENSE_TITLE"], texts["TXT_LICENSE_SUBTITLE"]))
            labels = {cid: s[cid].text for cid in (NEXT, BACK, CANCEL, ACCEPT, BROWSE, DESKTOP)}
            self.assertEqual(labels, {NEXT: texts["TXT_NEXT"], BACK: texts["TXT_BACK"], CANCEL: texts["TXT_CANCEL"],
                                      ACCEPT: texts["TXT_ACCEPT"], BROWSE: texts["TXT_BROWSE"],
                                      DESKTOP: texts["TXT_DESKTOP_SHORTCUT"]})
            if locale.startswith("fr"):
                self.assertTrue(w.click(CANCEL))
                self.assertEqual(w.finish().code, 0)
                continue
            shot(w, f"languages-{tag}-1-license.png")
            self.assertTrue(w.click(ACCEPT))
            s = w.wait_for(lambda s: s[DIR_EDIT].visible, what="the destination page")
            self.assertEqual((s.title, s.subtitle),
                             (texts["TXT_DEST_TITLE"], texts["TXT_DEST_SUBTITLE_FMT"].replace("%s", "Sample")))
            shot(w, f"languages-{tag}-2-destination.png")
            if tag == "ja":
                self.assertTrue(w.click(NEXT))
                s = w.wait_for(lambda s: s.title == texts["TXT_DONE_TITLE"], what="the done page")
                self.assertEqual(s.subtitle, texts["TXT_FINISH_SUBTITLE"])
                self.assertEqual((s[CANCEL].text, s[LAUNCH].text),
                                 (texts["TXT_FINISH"], texts["TXT_LAUNCH_FMT"].replace("%s", "Sample")))
                shot(w, f"languages-{tag}-3-done.png")
                self.assertTrue(w.click(LAUNCH))
            self.assertTrue(w.click(CANCEL))
            self.assertEqual(w.finish().code, 0)

    def test_right_to_left_languages_mirror_the_wizard(self):
        r = subprocess.run([str(harness.PACKER), "languages", "--json"], capture_output=True, text=True, check=True)
        shipped = {language["tag"]: language["texts"] for language in json.loads(r.stdout)}
        # A licence long enough for the pane's scroll bar; a file phase long
        # enough to move the bar before the locked file fails it.
        licence = b"{\\rtf1\\ansi " + b"".join(b"Term %d of the licence.\\par " % i for i in range(40)) + b"}"
        big = bytes(range(256)) * 1200
        setup = harness.pack(self.tmp / "rtl", 'languages = ["en", "ar", "he"]\n' + manifest(
            license="license.rtf", files=[("license.rtf", ""), ("big.dat", ""), ("Sample.exe", "")]),
            {"Sample.exe": harness.fake_product(), "license.rtf": licence, "big.dat": big})
        use_virtual_desktop(self.p)
        for old in SCREENSHOTS.glob("right-to-left-*.png"):
            old.unlink()

        def measure(w, shot=None):
            """The visible controls in the client area, as (left, top, right,
            bottom, extended style), and the client area's width."""
            if shot:
                time.sleep(0.7)  # let the page finish painting
                self.assertGreater(w.screenshot(f"right-to-left-{shot}.png").stat().st_size, 1000)
            layout = w.layout()
            left, top, right, _ = layout["client"]
            return right - left, {cid: (c["rect"][0] - left, c["rect"][1] - top, c["rect"][2] - left,
                                        c["rect"][3] - top, c["exstyle"])
                                  for cid, c in layout.items() if isinstance(cid, int) and c["visible"]}

        def icon_rows(w):
            """The header icon's pixels on screen, a row of RGB bytes each."""
            left, top, right, bottom = w.rect(ICON)
            crop = f"{right - left}x{bottom - top}+{left}+{top}"
            pixels = subprocess.run(["import", "-window", "root", "-crop", crop, "+repage", "rgb:-"],
                                    env=self.p.env, check=True, capture_output=True).stdout
            width = (right - left) * 3
            return [pixels[at:at + width] for at in range(0, len(pixels), width)]

        def first_pages(locale, texts, shot=None, package=setup):
            """The licence and destination pages, measured; texts checked."""
            self.p.env["LC_ALL"] = locale
            w = Wizard(self.p, package)
            s = w.state()
            time.sleep(0.7)  # let the page finish painting
            icons.append(icon_rows(w))
            self.assertEqual(s.caption, texts["TXT_TITLE_FMT"].replace("%s", "Sample 1.0"))
            self.assertEqual((s.title, s.subtitle, s[NEXT].text, s[CANCEL].text, s[ACCEPT].text),
                             (texts["TXT_LICENSE_TITLE"], texts["TXT_LICENSE_SUBTITLE"], texts["TXT_NEXT"],
                              texts["TXT_CANCEL"], texts["TXT_ACCEPT"]))
            found = [measure(w, shot and shot + "-1-license")]
            self.assertTrue(w.click(ACCEPT))
            s = w.wait_for(lambda s: s[DIR_EDIT].visible, what="the destination page")
            self.assertEqual((s.title, s.subtitle, s[BACK].text, s[BROWSE].text, s[DESKTOP].text),
                             (texts["TXT_DEST_TITLE"], texts["TXT_DEST_SUBTITLE_FMT"].replace("%s", "Sample"),
                              texts["TXT_BACK"], texts["TXT_BROWSE"], texts["TXT_DESKTOP_SHORTCUT"]))
            self.assertEqual(s[DIR_EDIT].text, self.default_dir)
            found.append(measure(w, shot and shot + "-2-destination"))
            return w, found

        icons = []
        w, left_to_right = first_pages("en_US.UTF-8", shipped["en"])
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)
        # English marked rtl = true, the package's one language: the mark
        # reaches the stub.
        marked = harness.pack(self.tmp / "marked", manifest(license="license.rtf", files=[
            ("license.rtf", ""), ("Sample.exe", "")]) + "\n[[language]]\nid = 0x409\nrtl = true\n",
            {"Sample.exe": harness.fake_product(), "license.rtf": licence})
        for locale, tag in (("en_US.UTF-8", "en"), ("he_IL.UTF-8", "he"), ("ar_SA.UTF-8", "ar")):
            w, mirrored = first_pages(locale, shipped[tag], shot=tag if tag == "ar" else None,
                                      package=marked if tag == "en" else setup)
            for (width, ltr), (rtl_width, rtl) in zip(left_to_right, mirrored):
                self.assertEqual(rtl_width, width)
                self.assertEqual(set(rtl), set(ltr))
                for cid, (left, top, right, bottom, exstyle) in ltr.items():
                    m = rtl[cid]
                    # Browse grows into the field for a longer label: their
                    # outer edges and the gap between them are mirrored.
                    edges = [(m[1], top), (m[3], bottom)]
                    if cid != DIR_EDIT:
                        edges.append((m[0], width - right))
                    if cid != BROWSE:
                        edges.append((m[2], width - left))
                    for found, expected in edges:
                        self.assertLessEqual(abs(found - expected), 2, (tag, cid, m, ltr[cid]))
                    self.assertFalse(exstyle & (WS_EX_LAYOUTRTL | WS_EX_LEFTSCROLLBAR), cid)
                    # Mirrored in place, but the icon is drawn as it is and
                    # paths read left to right; the pane's scroll bar moves.
                    self.assertEqual(m[4] & WS_EX_LAYOUTRTL, 0 if cid in (ICON, DIR_EDIT, PANE) else WS_EX_LAYOUTRTL,
                                     (tag, cid))
                    self.assertEqual(m[4] & WS_EX_LEFTSCROLLBAR, WS_EX_LEFTSCROLLBAR if cid == PANE else 0)
            (_, ltr), (_, rtl) = left_to_right[1], mirrored[1]
            self.assertEqual(rtl[DIR_EDIT][0] - rtl[BROWSE][2], ltr[BROWSE][0] - ltr[DIR_EDIT][2])
            # Drawn as it is, not flipped (the icon is not symmetric).
            flipped = [b"".join(row[at:at + 3] for at in range(len(row) - 3, -1, -3)) for row in icons[0]]
            self.assertNotEqual(flipped, icons[0])
            self.assertTrue(icons[-1] == icons[0], tag)
            if tag != "ar":
                self.assertTrue(w.click(CANCEL))
                self.assertEqual(w.finish().code, 0)

        # Arabic, on: a run that fails on a locked file shows its bar filled
        # from the right and the log's paths left to right.
        texts = shipped["ar"]
        target = self.p.host("C:\\Locked")
        target.mkdir()
        (target / "Sample.exe").write_bytes(harness.fake_product())
        tools = self.p.host("C:\\Tools")
        tools.mkdir()
        (tools / "locker.exe").write_bytes(harness.fake_product())
        locker = self.p.start(tools / "locker.exe", "--lock", "C:\\Locked\\Sample.exe", "none",
                              "--ready", "C:\\Tools\\ready", msgbox=False)
        self.assertTrue(harness.wait_for_file(tools / "ready", 60), "the locker did not start")
        w.type(DIR_EDIT, "C:\\Locked")
        self.assertTrue(w.click(NEXT, wait=False))
        self.assertIsNotNone(self.p.answer("Sample", 6), "no folder question")  # Yes: use the folder
        s = w.wait_for(lambda s: s[CANCEL].enabled and s.title == texts["TXT_FAILED_TITLE"], what="the failed page")
        self.assertEqual((s.subtitle, s[CANCEL].text), (texts["TXT_FINISH_SUBTITLE"], texts["TXT_FINISH"]))
        self.assertEqual(w.pane(), "Copy C:\\Locked\\license.rtf\r\nCopy C:\\Locked\\big.dat\r\n"
                                   "Copy C:\\Locked\\Sample.exe\r\n"
                                   "Failed to write file: C:\\Locked\\Sample.exe, code: 32\r\n")
        bar = s.progress
        self.assertTrue(1000 < bar["pos"] < 9000, bar)

        def red(pixel):
            return (pixel & 0xFF) > 180 and ((pixel >> 8) & 0xFF) < 80 and ((pixel >> 16) & 0xFF) < 80
        self.assertTrue(red(bar["far_pixel"]) and not red(bar["pixel"]), bar)
        measure(w, "ar-3-failed")
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)
        self.p.kill()
        self.p.finish(locker, 30)

        # A run that installs, to the done page.
        self.p.env["LC_ALL"] = "ar_SA.UTF-8"
        w = Wizard(self.p, setup)
        self.assertTrue(w.click(ACCEPT))
        w.wait_for(lambda s: s[DIR_EDIT].visible, what="the destination page")
        self.assertTrue(w.click(NEXT))
        s = w.wait_for(lambda s: s[CANCEL].enabled and s[LAUNCH].visible, what="the done page")
        self.assertEqual((s.title, s.subtitle, s[CANCEL].text, s[LAUNCH].text),
                         (texts["TXT_DONE_TITLE"], texts["TXT_FINISH_SUBTITLE"], texts["TXT_FINISH"],
                          texts["TXT_LAUNCH_FMT"].replace("%s", "Sample")))
        width, done = measure(w, "ar-4-done")
        self.assertGreater(done[LAUNCH][0], width - done[LAUNCH][2], "the launch box stands on the right")
        self.assertTrue(w.click(LAUNCH))
        self.assertTrue(w.click(CANCEL))
        self.assertEqual(w.finish().code, 0)

if __name__ == "__main__":
    unittest.main()
