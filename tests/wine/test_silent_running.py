"""Running copies of the product during a silent installation: the close
requests, the question and its Cancel (exit code 1: nothing installed), the
mutex, a copy that asks its own user before it closes, and one that hangs."""
import shutil
import time
import unittest

import harness
from harness import UNINSTALL_KEY

WM_CLOSE_LINE = "message 16 wparam 0 lparam 1024"
PRODUCT_CLOSE_LINE = "message 32870 wparam 0 lparam 0"  # 0x8066

MANIFEST = """
[product]
name = "{name}"
version = "1.0"
publisher = "P"
main_program = "main.exe"
default_install_dir = "C:\\\\Target\\\\{name}"

[running]
{running}
"""


class RunningCopyTest(harness.WineTestCase):

    def setUp(self):
        super().setUp()
        self.p = harness.isolate_shell_folders(self.prefix("win64"))
        (self.p.drive_c / "Target").mkdir()
        self.count = 0

    def setup_file(self, name, running):
        self.count += 1
        return harness.pack(self.tmp / f"pkg{self.count}", MANIFEST.format(name=name, running=running),
                            {"main.exe": b"m", "data.txt": b"d"})

    def start_copy(self, *args):
        """Starts a running copy from its own folder; returns its message log."""
        folder = self.p.drive_c / f"running{self.count}"
        folder.mkdir()
        shutil.copy(harness.helper("fake_product"), folder / "copy.exe")
        ready = folder / "ready"
        self.copy = self.p.start(folder / "copy.exe", *args, "--ready", harness.Prefix.win(ready), msgbox=False)
        self.assertTrue(harness.wait_for_file(ready), "the running copy did not start")
        return folder / "invocations.log"

    def messages(self, log):
        return [line for line in log.read_text(encoding="utf-8-sig").splitlines() if line.startswith("message")]

    def assert_nothing_installed(self, name):
        target = self.p.drive_c / "Target" / name
        # The target folder was made before the question; nothing is in it.
        self.assertEqual(list(target.iterdir()) if target.exists() else [], [])
        self.assertIsNone(self.p.reg_query("32", UNINSTALL_KEY + name, "DisplayName"))

    def test_copy_that_closes_on_the_first_request(self):
        setup = self.setup_file("Runner", 'window_class = "RunnerMain"')
        log = self.start_copy("--window", "RunnerMain", "any title")
        r = self.p.run(setup, "/S")
        self.assertEqual(r.code, 0)
        self.assertEqual(r.msgboxes, [])
        self.assertEqual(self.messages(log), [WM_CLOSE_LINE])
        self.assertEqual((self.p.drive_c / "Target" / "Runner" / "data.txt").read_bytes(), b"d")
        self.assertIsNotNone(self.p.reg_query("32", UNINSTALL_KEY + "Runner", "DisplayName"))

    def test_copy_that_never_closes(self):
        setup = self.setup_file("Stubborn", 'window_class = "StubbornMain"\nwindow_title = "Stubborn Window"')
        log = self.start_copy("--window", "StubbornMain", "Stubborn Window", "--ignore-close")
        started = time.time()
        proc = self.p.start(setup, "/S")
        text = self.p.answer("Stubborn", 1)  # OK: one more request, then the question again
        waited = time.time() - started
        self.assertIsNotNone(text)
        self.assertIn("Stubborn", text)
        self.assertEqual(self.messages(log), [WM_CLOSE_LINE] * 6)
        self.assertGreater(waited, 3.6)  # five silent 600 ms pauses and the sixth
        self.assertIsNotNone(self.p.answer("Stubborn", 2))  # Cancel ends the setup
        r = self.p.finish(proc, timeout=60)
        self.assertEqual(r.code, 1)
        self.assertEqual(self.messages(log), [WM_CLOSE_LINE] * 7)
        self.assertEqual(len(r.msgboxes), 2)
        self.assert_nothing_installed("Stubborn")

    def test_copy_that_never_closes_without_boxes(self):
        setup = self.setup_file("Quiet", 'window_class = "QuietMain"')
        log = self.start_copy("--window", "QuietMain", "t", "--ignore-close")
        r = self.p.run(setup, "/S", "/SUPPRESSMSGBOXES", "/LOG=C:\\quiet.log", timeout=60)
        self.assertEqual(r.code, 2)
        self.assertEqual(r.msgboxes, [])
        self.assertEqual(self.messages(log), [WM_CLOSE_LINE] * 6)
        self.assertTrue((self.p.drive_c / "quiet.log").read_bytes().decode("utf-8").endswith(" -> Cancel\r\n"))
        self.assert_nothing_installed("Quiet")
        self.copy.kill()
        self.copy.wait(timeout=30)

    def test_capital_i_also_sends_the_product_close_message(self):
        for name, expected in (("Iris", [WM_CLOSE_LINE, PRODUCT_CLOSE_LINE]), ("iris", [WM_CLOSE_LINE])):
            with self.subTest(name=name):
                setup = self.setup_file(name, f'window_class = "{name}Main"')
                log = self.start_copy("--window", f"{name}Main", "t", "--ignore-close")
                proc = self.p.start(setup, "/S")
                self.assertIsNotNone(self.p.answer(name, 2))
                r = self.p.finish(proc, timeout=60)
                self.assertEqual(r.code, 1)
                self.assertEqual(self.messages(log), expected * 6)
                self.assert_nothing_installed(name)
                self.copy.kill()
                self.copy.wait(timeout=30)

    def test_mutex_that_stays(self):
        setup = self.setup_file("Mutexed", 'mutex = "MutexedRunning"\nwindow_class = "NoSuchWindowClass"')
        self.start_copy("--mutex", "MutexedRunning")
        proc = self.p.start(setup, "/S")
        # No window to ask: the question comes at once, and again after OK.
        self.assertIsNotNone(self.p.answer("Mutexed", 1))
        self.assertIsNotNone(self.p.answer("Mutexed", 2))
        r = self.p.finish(proc, timeout=60)
        self.assertEqual(r.code, 1)
        self.assertEqual(len(r.msgboxes), 2)
        self.assert_nothing_installed("Mutexed")

    def test_mutex_released_while_the_question_is_open(self):
        setup = self.setup_file("Released", 'mutex = "ReleasedRunning"')
        self.start_copy("--mutex", "ReleasedRunning")
        proc = self.p.start(setup, "/S")
        time.sleep(4)  # the question is open by now
        self.copy.kill()
        self.copy.wait(timeout=30)
        self.assertIsNotNone(self.p.answer("Released", 1))
        r = self.p.finish(proc, timeout=60)
        self.assertEqual(r.code, 0)
        self.assertEqual(len(r.msgboxes), 1)
        self.assertEqual((self.p.drive_c / "Target" / "Released" / "data.txt").read_bytes(), b"d")

    def test_copy_that_asks_its_user_gets_one_request(self):
        # Its "save changes?" box stays open for 20 s; the copy keeps reading
        # its messages all the while, so the setup waits without asking again.
        setup = self.setup_file("Asking", 'window_class = "AskingMain"')
        log = self.start_copy("--window", "AskingMain", "t", "--ask-on-close", "20")
        started = time.time()
        r = self.p.run(setup, "/S")
        waited = time.time() - started
        self.assertEqual(r.code, 0)
        self.assertEqual(r.msgboxes, [])  # the setup asked nothing itself
        self.assertEqual(self.messages(log), [WM_CLOSE_LINE])
        self.assertGreater(waited, 20)
        self.assertEqual((self.p.drive_c / "Target" / "Asking" / "data.txt").read_bytes(), b"d")

    def test_copy_that_hangs_does_not_hold_the_setup(self):
        setup = self.setup_file("Hanging", 'window_class = "HangingMain"')
        log = self.start_copy("--window", "HangingMain", "t", "--hang")
        started = time.time()
        proc = self.p.start(setup, "/S")
        text = self.p.answer("Hanging", 2, timeout_ms=90000)
        self.assertIsNotNone(text, "the question never came: the setup waits for the hanging copy")
        waited = time.time() - started
        r = self.p.finish(proc, timeout=60)
        self.assertEqual(r.code, 1)  # silent Cancel: not installed
        self.assertEqual(self.messages(log), [WM_CLOSE_LINE])  # the copy is stuck in the first one
        # Hung after 5 s without reading its messages, then the six pauses.
        self.assertLess(waited, 15)
        self.assert_nothing_installed("Hanging")


if __name__ == "__main__":
    unittest.main()
