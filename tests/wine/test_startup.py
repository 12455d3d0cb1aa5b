"""The stub's start-up under Wine: the refusals before the wizard (texts,
caption, icon, exit code), the unsupported-OS target, and setup files that
are damaged or signed."""
import struct
import time
import unittest

import harness
from harness import STUB, WineTestCase, pack
from wizard_driver import ACCEPT, DIR_EDIT, NEXT, Wizard

DAMAGED = "This setup package is damaged!"
NO_MEMORY = "There is not enough memory to unpack this setup package."
UNSUPPORTED_OS = "This operating system is not supported!"
ONLY_ON = "This setup can only be installed on Windows {}!"


def manifest(os_names=(), arch_names=(), target=None):
    text = '[product]\nname = "Sample"\nversion = "1.0"\npublisher = "Sample Publisher"\n'
    if target:
        text += f"unsupported_os_target = '{target}'\n"
    text += "[package]\n"
    text += "os = [" + ", ".join(f'"{n}"' for n in os_names) + "]\n"
    text += "arch = [" + ", ".join(f'"{n}"' for n in arch_names) + "]\n"
    return text


FILES = {"readme.txt": b"Sample readme\r\n" * 64, "bin\\tool.dat": bytes(range(256)) * 16}


def files():
    return {k.replace("\\", "/"): v for k, v in FILES.items()}


class StartupTest(WineTestCase):
    def refuse(self, prefix, setup, *args, cwd=None):
        """Runs a setup file that must refuse: answers its box with OK the way a
        user would and returns (box text, Result)."""
        proc = prefix.start(setup, *args, debug="+cursor", cwd=cwd)
        # Found by the caption "Error": Wine's own caption for a box without one.
        text = prefix.answer("Error", 1)
        result = prefix.finish(proc)
        self.assertIsNotNone(text, f"no refusal box; boxes seen: {result.msgboxes}")
        self.assertNotIn("owner\t", text)
        self.assertEqual(len(result.msgboxes), 1, result.msgboxes)
        self.assertEqual(result.msgbox_icons, ["error"])
        self.assertEqual(result.code, 1)
        return result.msgboxes[0], result

    def test_missing_or_damaged_package(self):
        p = self.prefix("win64")
        good = pack(self.tmp / "good", manifest(), files())
        data = bytearray(good.read_bytes())
        trailer = harness.inspect(good)["trailer"]
        self.assertEqual(trailer["slack"], 0)
        packed = trailer["packed_size"]
        block = trailer["offset"] - packed
        # One flipped bit in the middle of the LZMA stream.
        flipped = bytearray(data)
        flipped[block + 5 + (packed - 5) // 2] ^= 0x10
        (self.tmp / "flipped.exe").write_bytes(flipped)
        # The stream decodes but the sum does not match.
        wrong_sum = pack(self.tmp / "sum", manifest(), files(), extra_args=["--corrupt-checksum"])
        older_sum = pack(self.tmp / "older", manifest(), files(),
                         extra_args=["--corrupt-checksum", "--no-prefix-record"])
        # The prefix the wizard would start from does not match its checksum.
        record = harness.inspect(good)["prefix_record"]
        bad_prefix = bytearray(data)
        bad_prefix[record["offset"] + 8] ^= 0x01
        (self.tmp / "prefix.exe").write_bytes(bad_prefix)
        # A trailer followed by more than 16 bytes lies outside the window.
        (self.tmp / "far.exe").write_bytes(bytes(data) + b"\0" * 17)
        # A block that no 32-bit process can hold: not enough memory, which
        # says nothing about damage.
        huge = bytearray(data)
        struct.pack_into("<I", huge, trailer["offset"] + 4, 0xFFFFF000)  # the unpacked size
        (self.tmp / "huge.exe").write_bytes(huge)
        # Damage after the prefix is found before anything is written: a
        # silent run waits for it (the wizard's user sees it on Install).
        for setup, args, expected in ((STUB, (), DAMAGED), (self.tmp / "flipped.exe", ("/S",), DAMAGED),
                                      (wrong_sum, ("/S",), DAMAGED),
                                      (older_sum, (), DAMAGED),  # no record: today's order
                                      (self.tmp / "prefix.exe", (), DAMAGED),
                                      (self.tmp / "far.exe", ("/S",), DAMAGED),  # whatever the command line asks
                                      (self.tmp / "huge.exe", ("/S",), NO_MEMORY)):
            with self.subTest(setup=setup.name):
                if setup.name == "huge.exe" and harness.STUB_X64:
                    continue  # a 64-bit process gets the memory
                text, _ = self.refuse(p, setup, *args)
                self.assertEqual(text, expected)

        # The stub of one setup file (the hash of its package bound to its
        # image) with the package region of another, made with the same stub:
        # the other package is sound, but not the one this stub was made for.
        other = pack(self.tmp / "other", manifest().replace('"Sample"', '"Other"'), {"other.txt": b"other"})
        listing, other_listing = harness.inspect(good), harness.inspect(other)
        self.assertTrue(listing["bound_hash"]["matches"] and other_listing["bound_hash"]["matches"])
        image_end = trailer["packed_offset"] - trailer["extra_size"]
        self.assertEqual(image_end, other_listing["trailer"]["packed_offset"] - other_listing["trailer"]["extra_size"])
        splice = self.tmp / "splice.exe"
        splice.write_bytes(data[:image_end] + other.read_bytes()[image_end:])
        self.assertFalse(harness.inspect(splice, refused=True)["bound_hash"]["matches"])
        text, _ = self.refuse(p, splice, "/S")
        self.assertEqual(text, DAMAGED)
        # The wizard starts from the other package's sound prefix; Install
        # finds the damage before anything is written.
        w = Wizard(p, splice)
        self.assertTrue(w.click(ACCEPT))
        w.type(DIR_EDIT, "C:\\Spliced")
        self.assertTrue(w.click(NEXT, wait=False))
        self.assertIsNotNone(p.answer("Error", 1), "no damaged message")
        result = w.finish()
        self.assertEqual((result.code, result.msgboxes), (1, [DAMAGED]))
        self.assertFalse(p.host("C:\\Spliced").exists(), "nothing written")
        self.assertEqual(list(p.drive_c.glob("Program Files*/Other")), [], "nothing written")

    def test_unsupported_os_opens_the_target(self):
        p = self.prefix("win64")
        target_dir = p.host("C:\\target")
        target_dir.mkdir(parents=True)
        (target_dir / "fake_product.exe").write_bytes(harness.fake_product())
        log = target_dir / "invocations.log"

        with_target = pack(self.tmp / "a", manifest(["win2000"], target="C:\\target\\fake_product.exe"), files())
        text, _ = self.refuse(p, with_target)
        self.assertEqual(text, UNSUPPORTED_OS)
        self.assertTrue(harness.wait_for_file(log, 30), "UnsupportedOsTarget was not opened")
        time.sleep(1)
        lines = log.read_text(encoding="utf-8-sig").splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertIn("fake_product.exe", lines[0])

        # A relative target is not looked for in the current directory, even
        # where the program is there.
        log.unlink()
        relative = pack(self.tmp / "r", manifest(["win2000"], target="fake_product.exe"), files())
        text, _ = self.refuse(p, relative, cwd=target_dir)
        self.assertEqual(text, UNSUPPORTED_OS)
        time.sleep(2)
        self.assertFalse(log.exists())

        # Without a target nothing is opened; the exit code is 1 all the same.
        without = pack(self.tmp / "b", manifest(["win2000", "xp"]), files())
        text, _ = self.refuse(p, without)
        self.assertEqual(text, UNSUPPORTED_OS)
        time.sleep(2)
        self.assertFalse(log.exists())

        # The OS check comes before the architecture check.
        both = pack(self.tmp / "c", manifest(["win2000"], ["arm64"]), files())
        text, _ = self.refuse(p, both, "-s")
        self.assertEqual(text, UNSUPPORTED_OS)

    def test_architecture_refusals(self):
        cases = [
            ("win64", ["arm64"], "arm64"),
            ("win64", ["x86", "arm64"], "x86/arm64"),
            ("win32", ["x64"], "x64"),
        ]
        prefixes = {}
        for kind, arch, shown in cases:
            with self.subTest(kind=kind, arch=arch):
                p = prefixes.get(kind) or prefixes.setdefault(kind, self.prefix(kind))
                setup = pack(self.tmp / f"{kind}-{'-'.join(arch)}", manifest(arch_names=arch), files())
                text, _ = self.refuse(p, setup)
                self.assertEqual(text, ONLY_ON.format(shown))

    def test_signed_setup_file_is_found(self):
        p = self.prefix("win64")
        refused = pack(self.tmp / "a", manifest(["win2000"]), files())
        signed = harness.sign(refused, self.tmp)
        image_end = len(refused.read_bytes())
        cert_offset = harness.inspect(signed)["certificate_table"]
        self.assertIsNotNone(cert_offset)
        self.assertGreaterEqual(cert_offset, image_end, "the certificate table follows the package")
        self.assertLessEqual(cert_offset - image_end, 16)
        # Reaching the OS check shows that the package was found and verified.
        text, _ = self.refuse(p, signed)
        self.assertEqual(text, UNSUPPORTED_OS)

        # A signed package that fits this system passes every start-up check
        # and installs silently.
        harness.isolate_shell_folders(p)  # the installation makes shortcuts
        fits = harness.sign(pack(self.tmp / "b", manifest(["win7", "win10"], ["x64"]), files()), self.tmp)
        # The hash bound before signing still holds: it ends at the trailer,
        # before the padding and the certificate table signing appends.
        self.assertTrue(harness.inspect(fits)["bound_hash"]["matches"])
        result = p.run(fits, "/S", timeout=180)
        self.assertEqual(result.msgboxes, [])
        self.assertEqual(result.code, 0)
        installed = list(p.drive_c.glob("Program Files*/Sample/readme.txt"))
        self.assertEqual(len(installed), 1, installed)
        self.assertEqual(installed[0].read_bytes(), FILES["readme.txt"])


if __name__ == "__main__":
    unittest.main()
