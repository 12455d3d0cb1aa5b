"""Install runs that meet locked files, a full disk, names too long for the
path buffer and texts too long for the command buffer. A failed run leaves
what it wrote, registers nothing and ends a silent run with exit code 1."""
import os
import resource
import shutil
import signal
import subprocess
import unittest

import harness
from harness import UNINSTALL_KEY

SESSION_MANAGER = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"

MANIFEST = """
[product]
name = "{name}"
version = "1.0"
publisher = "P"
main_program = "main.exe"
default_install_dir = "{directory}"
{extra}
[[file]]
source = "first.txt"
[[file]]
source = "middle.bin"
name = "{middle}"
replace_locked = {replace_locked}
[[file]]
source = "after.txt"
"""


class InstallFailureTest(harness.WineTestCase):

    def setUp(self):
        super().setUp()
        self.p = harness.isolate_shell_folders(self.prefix("win64"))
        self.holders = []
        self.mounts = []

    def tearDown(self):
        for proc in self.holders:
            if proc.poll() is None:
                proc.kill()
                proc.wait(timeout=30)
        super().tearDown()
        # After the prefix is closed nothing holds the small drive open.
        for mount in self.mounts:
            subprocess.run(["umount", str(mount)])
            if not os.environ.get("KEEP_WINE_PREFIX"):
                shutil.rmtree(mount.parent, ignore_errors=True)

    def setup_file(self, name, directory, middle="locked.bin", replace_locked=False, data=b"new", extra=""):
        manifest = MANIFEST.format(name=name, directory=directory.replace("\\", "\\\\"),
                                   middle=middle.replace("\\", "\\\\"),
                                   replace_locked="true" if replace_locked else "false", extra=extra)
        files = {"first.txt": b"first", "middle.bin": data, "after.txt": b"after", "main.exe": harness.fake_product()}
        return harness.pack(self.tmp / name, manifest, files)

    def hold(self, win_path, mode):
        """A process that keeps win_path open: readdelete shares read and
        delete (like a running program's image), none shares nothing."""
        n = len(self.holders)
        folder = self.p.drive_c / "holders"
        folder.mkdir(exist_ok=True)
        exe = folder / f"holder{n}.exe"
        shutil.copy(harness.helper("fake_product"), exe)
        ready = folder / f"ready{n}"
        # The numbers start again after release_holders: an earlier holder's
        # file must not pass for this one's.
        ready.unlink(missing_ok=True)
        self.holders.append(self.p.start(exe, "--lock", win_path, mode, "--ready", harness.Prefix.win(ready),
                                         msgbox=False))
        self.assertTrue(harness.wait_for_file(ready))
        self.assertNotIn("lock failed", (folder / "invocations.log").read_text(encoding="utf-8-sig"))

    def release_holders(self):
        for proc in self.holders:
            proc.kill()
            proc.wait(timeout=30)
        self.holders = []

    def pending_deletions(self):
        r = self.p.run("reg", "query", SESSION_MANAGER, "/v", "PendingFileRenameOperations", msgbox=False)
        return r.stdout

    def registered(self, name):
        return self.p.reg_query("32", UNINSTALL_KEY + name, "DisplayName") is not None

    def assert_failed_at_middle(self, name, root):
        """The entry before the failing one is written, the one after is not,
        and there is no registration and no shortcut."""
        self.assertEqual((root / "first.txt").read_bytes(), b"first")
        self.assertFalse((root / "after.txt").exists())
        self.assertFalse(self.registered(name))
        self.assertFalse((harness.common_programs_dir(self.p) / f"{name}.lnk").exists())

    def test_locked_files(self):
        p = self.p
        with self.subTest("a locked file is moved aside to name.tmpa"):
            root = p.drive_c / "L1"
            root.mkdir()
            (root / "locked.bin").write_bytes(b"old")
            self.hold("C:\\L1\\locked.bin", "readdelete")
            r = p.run(self.setup_file("Lock1", "C:\\L1", replace_locked=True), "/S")
            self.assertEqual(r.code, 0)
            self.assertEqual((root / "locked.bin").read_bytes(), b"new")
            self.assertEqual((root / "locked.bin.tmpa").read_bytes(), b"old")
            self.assertEqual((root / "after.txt").read_bytes(), b"after")
            self.assertTrue(self.registered("Lock1"))
            self.assertIn("C:\\L1\\locked.bin.tmpa", self.pending_deletions())
            self.release_holders()

        with self.subTest("an undeletable name.tmpa is skipped for name.tmpb"):
            root = p.drive_c / "L2"
            root.mkdir()
            (root / "locked.bin").write_bytes(b"old")
            (root / "locked.bin.tmpa").write_bytes(b"older")
            self.hold("C:\\L2\\locked.bin", "readdelete")
            self.hold("C:\\L2\\locked.bin.tmpa", "none")
            r = p.run(self.setup_file("Lock2", "C:\\L2", replace_locked=True), "/S")
            self.assertEqual(r.code, 0)
            self.assertEqual((root / "locked.bin").read_bytes(), b"new")
            self.assertEqual((root / "locked.bin.tmpa").read_bytes(), b"older")
            self.assertEqual((root / "locked.bin.tmpb").read_bytes(), b"old")
            self.assertTrue(self.registered("Lock2"))
            self.assertIn("C:\\L2\\locked.bin.tmpb", self.pending_deletions())
            self.release_holders()

        for what, name, replace_locked, mode in [
            ("without FE_REPLACE_LOCKED the run fails", "Lock3", False, "readdelete"),
            ("a file shared with nobody cannot be moved either", "Lock4", True, "none"),
        ]:
            with self.subTest(what):
                root = p.drive_c / name
                root.mkdir()
                (root / "locked.bin").write_bytes(b"old")
                self.hold(f"C:\\{name}\\locked.bin", mode)
                r = p.run(self.setup_file(name, f"C:\\{name}", replace_locked=replace_locked), "/S")
                self.assertEqual(r.code, 1)
                self.assertEqual((root / "locked.bin").read_bytes(), b"old")
                self.assertFalse((root / "locked.bin.tmpa").exists())
                self.assert_failed_at_middle(name, root)
                self.release_holders()

    def small_drive(self):
        """Drive T: of about 1 MiB: a tmpfs when this machine may mount one.
        Returns None when it may not (the caller then limits the file size
        of the setup process instead)."""
        mount = self.tmp / "small"
        mount.mkdir()
        if os.environ.get("INSTALL_TEST_NO_MOUNT") or subprocess.run(
                ["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(mount)],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            return None
        self.mounts.append(mount)
        (self.p.path / "dosdevices" / "t:").symlink_to(mount)
        return mount

    def test_write_failing_part_way(self):
        p = self.p
        big = bytes(range(256)) * (2 * 1024 * 1024 // 256)
        mount = self.small_drive()
        if mount:
            setup = self.setup_file("Fill", "T:\\Fill", middle="big.bin", data=big)
            r = p.run(setup, "/S")
            root = mount / "Fill"
        else:
            # No mount here: the kernel's file-size limit makes the setup's
            # own writes fail past 1 MiB instead of a full disk.
            setup = self.setup_file("Fill", "C:\\Fill", middle="big.bin", data=big)
            subprocess.run(["wineserver", "-p"], env=p.env, check=True)
            p.tool("reg_probe", "query", "64", "SOFTWARE")  # the server runs without the limit

            def limit():
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (1024 * 1024, 1024 * 1024))

            proc = subprocess.run(["wine", str(setup), "/S"], env=p.env, preexec_fn=limit,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
            r = harness.Result(proc.returncode, "")
            root = p.drive_c / "Fill"
        self.assertEqual(r.code, 1)
        written = (root / "big.bin").stat().st_size
        self.assertGreater(written, 0)
        self.assertLess(written, len(big))
        self.assert_failed_at_middle("Fill", root)

    def test_names_that_do_not_fit_the_path_buffer(self):
        p = self.p
        with self.subTest("InstallDir and the name exceed 259 characters"):
            # "C:\LP\" and 256 characters: 262.
            long_name = "n" * 120 + "\\" + "m" * 135
            r = p.run(self.setup_file("LongPath", "C:\\LP", middle=long_name), "/S")
            self.assertEqual(r.code, 1)
            root = p.drive_c / "LP"
            self.assert_failed_at_middle("LongPath", root)
            self.assertEqual(sorted(x.name for x in root.iterdir()), ["first.txt"])  # nothing cut made

        with self.subTest("the path fits, its rename candidate does not"):
            # "C:\RL\" and 251 characters: 257, and ".tmpa" would make 262.
            name = "r" * 120 + "\\" + "s" * 130
            root = p.drive_c / "RL"
            (root / ("r" * 120)).mkdir(parents=True)
            (root / name.replace("\\", "/")).write_bytes(b"old")
            self.hold("C:\\RL\\" + name, "readdelete")
            r = p.run(self.setup_file("RenameLong", "C:\\RL", middle=name, replace_locked=True), "/S")
            self.assertEqual(r.code, 1)
            self.assertEqual((root / name.replace("\\", "/")).read_bytes(), b"old")
            self.assertEqual(sorted(x.name for x in (root / ("r" * 120)).iterdir()), ["s" * 130])
            self.assert_failed_at_middle("RenameLong", root)
            self.release_holders()

        with self.subTest("a file in the place of the target directory"):
            (p.drive_c / "IsAFile").write_bytes(b"a file")
            r = p.run(self.setup_file("FileInTheWay", "C:\\IsAFile"), "/S")
            self.assertEqual(r.code, 1)
            self.assertEqual((p.drive_c / "IsAFile").read_bytes(), b"a file")
            self.assertFalse(self.registered("FileInTheWay"))

    def test_hostile_target_folders(self):
        """Links a standard user could plant where the elevated run writes:
        refused before anything goes through them, the run fails as any
        failed run does, and the configure command does not run."""
        p = self.p
        system32 = p.drive_c / "windows" / "system32"
        configure = 'configure_args = "/configure %d"'
        elsewhere = p.drive_c / "Elsewhere"
        elsewhere.mkdir()
        victim = p.drive_c / "victim.txt"
        victim.write_bytes(b"victim")
        # Wine follows only a link with an absolute host target.
        cases = [
            # (what, name, install dir, link to plant, its target, the middle entry's name)
            ("a link at the install folder", "LinkTop", "C:\\ProgramData\\Vendor\\App",
             "ProgramData/Vendor/App", system32, "locked.bin"),
            ("a link at a level below the install folder", "LinkBelow", "C:\\Below",
             "Below/sub", system32, "sub\\deep\\x.dll"),
            ("a link at a level above the install folder", "LinkAbove", "C:\\Above\\App",
             "Above", elsewhere, "locked.bin"),
            ("a hard link at a file's name", "HardLink", "C:\\Hard", None, None, "locked.bin"),
        ]
        for what, name, directory, link, target, middle in cases:
            with self.subTest(what):
                before = {x.name for x in target.iterdir()} if target else set()
                if link:
                    at = p.drive_c / link
                    at.parent.mkdir(parents=True, exist_ok=True)
                    at.symlink_to(target.resolve(), target_is_directory=True)
                    if "Below" in link:  # the install folder is real and there already
                        (at.parent / "first.txt").write_bytes(b"old")
                else:
                    (p.drive_c / "Hard").mkdir()
                    os.link(victim, p.drive_c / "Hard" / middle)
                r = p.run(self.setup_file(name, directory, middle=middle, extra=configure), "/S")
                self.assertEqual(r.code, 1)
                self.assertFalse(self.registered(name))
                if target:
                    self.assertEqual({x.name for x in target.iterdir()}, before, "written through the link")
                    self.assertFalse((target / "invocations.log").exists())
                self.assertEqual(victim.read_bytes(), b"victim")
                self.assertFalse((p.host(directory) / "after.txt").exists())
                self.assertFalse((p.host(directory) / "invocations.log").exists(), "the configure command ran")

    def test_arguments_that_do_not_fit_the_command_text(self):
        # 268 characters hold the quoted "C:\Args\main.exe" (18) and 248 more.
        extra = 'configure_args = "/configure {}"\nuninstall_args = "/uninstall {}"'.format("c" * 250, "u" * 250)
        files_setup = self.setup_file("Args", "C:\\Args", middle="middle.bin", extra=extra)
        # An earlier installation's command must not survive beside the new values.
        self.p.reg_set("32", UNINSTALL_KEY + "Args", "UninstallString", "sz", '"C:\\Old\\main.exe" /uninstall')
        r = self.p.run(files_setup, "/S")
        self.assertEqual(r.code, 0)  # the installation ran to its end
        root = self.p.drive_c / "Args"
        self.assertEqual((root / "after.txt").read_bytes(), b"after")
        self.assertFalse((root / "invocations.log").exists())  # the main program never ran
        values = self.p.reg_query("32", UNINSTALL_KEY + "Args", "UninstallString", "DisplayIcon",
                                  "InstallLocation", "DisplayName")
        # Neither is cut: no uninstall command rather than a wrong one.
        self.assertEqual(values, {"UninstallString": None, "DisplayIcon": (1, 34, "C:\\Args\\main.exe"),
                                  "InstallLocation": (1, 18, "C:\\Args\\"), "DisplayName": (1, 18, "Args 1.0")})


if __name__ == "__main__":
    unittest.main()
