"""The packer's inspect command on real setup files: the sample product's,
the same file signed, and files that hold no valid package."""
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

import harness
from harness import PACKER, ROOT, pack
from harness import REAL_STUB as STUB  # inspect reads the shipped image; nothing here runs it

SAMPLE = ROOT / "sample"


def inspect(path):
    return subprocess.run([str(PACKER), "inspect", str(path)], capture_output=True, text=True, timeout=60)


def certificate_offset(path):
    data = Path(path).read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<I", data, pe + 24 + 96 + 32)[0]


class InspectTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        harness.WORK.mkdir(parents=True, exist_ok=True)
        cls.tmp = Path(tempfile.mkdtemp(prefix="inspect-", dir=harness.WORK))
        # The sample product as the build stages it, with a stand-in program.
        product = cls.tmp / "product"
        shutil.copytree(SAMPLE / "product", product)
        shutil.copy(harness.helper("fake_product"), product / "Sample.exe")
        cls.product = product
        cls.setup = cls.tmp / "Sample-setup.exe"
        r = subprocess.run([str(PACKER), "build", "--manifest", str(SAMPLE / "manifest.toml"),
                            "--product-dir", str(product), "--stub", str(STUB), "--output", str(cls.setup)],
                           capture_output=True, text=True)
        if r.returncode != 0:
            raise RuntimeError(r.stderr)
        cls.signed = harness.sign(cls.setup, cls.tmp)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_sample_setup_file(self):
        r = inspect(self.setup)
        self.assertEqual(r.returncode, 0, r.stderr)
        out = r.stdout
        self.assertRegex(out, r"header: files 4, languages 2, .*licence entry 1\b")
        self.assertIn("certificate table: none", out)
        # Every entry with its installed name, size and time.
        entries = re.findall(r'^\s+(\d+): "((?:[^"\\]|\\.)*)" flags (0x[0-9A-F]{8}).*size (\d+).*time (\S+)$',
                             out, re.M)
        names = [(name.replace("\\\\", "\\"), int(size)) for _, name, _, size, _ in entries]
        sizes = {n: (self.product / n.replace("\\", "/")).stat().st_size
                 for n in ("Sample.exe", "license.rtf", "readme.txt", "language\\sample.ini")}
        self.assertEqual(names, list(sizes.items()))
        for entry in entries:
            self.assertEqual(entry[2], "0x000FFFFF", "all systems after normalisation")
            self.assertTrue(entry[4].startswith("2024-01-15T12:00:00"), entry)
        # Both languages with their own names and texts.
        self.assertRegex(out, r'0: 0x0409 "English"')
        self.assertRegex(out, r'1: 0x0407 "Deutsch"')
        self.assertIn('TXT_NEED_ADMIN = "Sie müssen als Administrator angemeldet sein', out)
        self.assertIn('TXT_NEXT = "&Next >"', out)
        # Configuration strings, present and absent.
        self.assertIn('ProductName = "Sample"', out)
        self.assertIn('ConfigureArgs = "/configure %u \\"%s\\""', out)
        self.assertIn('UninstallArgs = "/uninstall"', out)
        self.assertRegex(out, r'MainProgram = "Sample\.exe"\n')
        self.assertIn("LaunchCommand = (absent)", out)
        self.assertIn("UnsupportedOsTarget = (absent)", out)

    def test_signed_setup_file(self):
        plain, signed = inspect(self.setup), inspect(self.signed)
        self.assertEqual(signed.returncode, 0, signed.stderr)
        offset = certificate_offset(self.signed)
        self.assertGreater(offset, 0)
        self.assertIn(f"certificate table: {offset}\n", signed.stdout)
        # The certificate table sits on an 8-byte boundary: the slack pads to it.
        slack = int(re.search(r"slack (\d+)", signed.stdout).group(1))
        self.assertEqual(slack, offset - self.setup.stat().st_size)
        self.assertLess(slack, 8)
        # Everything from the header on reads the same as in the unsigned file.
        self.assertEqual(signed.stdout[signed.stdout.index("header:"):],
                         plain.stdout[plain.stdout.index("header:"):])

    def test_files_without_a_valid_package(self):
        broken = pack(self.tmp / "broken", '[product]\nname = "X"\nversion = "1"\npublisher = "P"\n',
                      {"a.txt": b"a"}, extra_args=["--corrupt-checksum"])
        for path in (STUB, broken):
            with self.subTest(path=path.name):
                r = inspect(path)
                self.assertEqual(r.returncode, 1)
                self.assertNotIn("header:", r.stdout)
                self.assertEqual(len(r.stderr.strip().splitlines()), 1, r.stderr)
                self.assertIn(str(path), r.stderr)


if __name__ == "__main__":
    unittest.main()
