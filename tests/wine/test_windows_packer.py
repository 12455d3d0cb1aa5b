"""The Windows packer (packer.exe, cross-built) under Wine against the Linux
packer: the same setup file byte for byte from the same inputs given as
Windows paths (outside the ANSI code page too), and the same one-line
errors."""
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import harness
from harness import PACKER, ROOT, STUB, WINE64

WIN_PACKER = Path(os.environ.get("WIN_PACKER_BUILD_DIR", ROOT / "build" / "win-packer")) / "packer.exe"

# Backslashes in a source, as a team on Windows writes them.
TREE_MANIFEST = """[product]
name = "Tree"
version = "2.0"
publisher = "Tree Publisher"

[[file]]
source = 'bin\\x64\\tree.exe'
name = "tree.exe"
arch = ["x64"]

[[file]]
source = "bin/x86/tree.exe"
name = "tree.exe"
arch = ["x86"]

[[file]]
source = 'data\\deep\\er\\table.bin'
"""


def write_tree(root):
    """Files in nested folders, with times that have fractions of a second."""
    files = {
        "bin/x64/tree.exe": b"MZ x64" * 3000,
        "bin/x86/tree.exe": b"MZ x86" * 2000,
        "data/deep/er/table.bin": bytes(range(256)) * 64,
        "data/empty.txt": b"",
        "docs/readme.txt": b"read me\r\n" * 50,
    }
    for i, (rel, data) in enumerate(sorted(files.items())):
        path = root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        ns = 1_700_000_000_123_456_700 + i * 86_400_000_000_000
        os.utime(path, ns=(ns, ns))


class WindowsPackerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        harness.WORK.mkdir(parents=True, exist_ok=True)
        cls.tmp = Path(tempfile.mkdtemp(prefix="winpacker-", dir=harness.WORK))
        cls.prefix = harness.Prefix(harness.X64_ONLY, name="winpacker")
        # The sample product as the build stages it, on the host (Z:).
        cls.sample = cls.tmp / "sample"
        shutil.copytree(ROOT / "sample" / "product", cls.sample)
        shutil.copy(harness.helper("fake_product"), cls.sample / "Sample.exe")
        # The tree inside the prefix, reached as C:\.
        cls.tree = cls.prefix.drive_c / "work" / "tree product"
        write_tree(cls.tree)
        (cls.prefix.drive_c / "work" / "tree.toml").write_text(TREE_MANIFEST)
        shutil.copy(STUB, cls.prefix.drive_c / "work" / "stub.exe")

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def linux(self, *args, cwd=None):
        r = subprocess.run([str(PACKER), *map(str, args)], capture_output=True, text=True, cwd=cwd, timeout=120)
        return r.returncode, r.stdout, r.stderr

    def windows(self, *args, cwd=None):
        # The 64-bit loader straight away: the "wine" script starts the
        # 32-bit one first, which is slow where i386 code is emulated.
        r = subprocess.run([WINE64, str(WIN_PACKER), *map(str, args)], env=self.prefix.env, cwd=cwd,
                           capture_output=True, text=True, timeout=300)
        return r.returncode, r.stdout.replace("\r\n", "\n"), r.stderr.replace("\r\n", "\n")

    def assert_same_setup_file(self, manifest, product, stub, win_manifest, win_product, win_stub, name):
        linux_out, win_out = self.tmp / f"{name}-linux.exe", self.tmp / f"{name}-windows.exe"
        code, _, err = self.linux("build", "--manifest", manifest, "--product-dir", product,
                                  "--stub", stub, "--output", linux_out)
        self.assertEqual(code, 0, err)
        code, _, err = self.windows("build", "--manifest", win_manifest, "--product-dir", win_product,
                                    "--stub", win_stub, "--output", harness.Prefix.win(win_out))
        self.assertEqual(code, 0, err)
        self.assertEqual(linux_out.read_bytes(), win_out.read_bytes(), name)
        # The listing of the Windows packer matches too, JSON included.
        for extra in ([], ["--json"]):
            _, linux_text, _ = self.linux("inspect", *extra, linux_out)
            _, win_text, _ = self.windows("inspect", *extra, harness.Prefix.win(linux_out))
            self.assertEqual(linux_text.replace(str(linux_out), "SETUP"),
                             win_text.replace(harness.Prefix.win(linux_out).replace("\\", "\\\\"), "SETUP")
                             .replace(harness.Prefix.win(linux_out), "SETUP"), extra)
        return linux_out

    def test_sample_product_gives_the_same_setup_file(self):
        manifest = ROOT / "sample" / "manifest.toml"
        self.assert_same_setup_file(manifest, self.sample, STUB, harness.Prefix.win(manifest),
                                    harness.Prefix.win(self.sample), harness.Prefix.win(STUB), "sample")

    def test_tree_with_subfolders_gives_the_same_setup_file(self):
        work = self.prefix.drive_c / "work"
        # With a [[file]] list whose sources use backslashes, and without a
        # list (the whole folder with the files' own times).
        bare = work / "bare.toml"
        bare.write_text(TREE_MANIFEST.split("[[file]]")[0])
        # Shipped translations by tag, one of them changed.
        languages = work / "languages.toml"
        languages.write_text('languages = ["ja", "de", "zh-Hant"]\n' + TREE_MANIFEST.split("[[file]]")[0] +
                             '[[language]]\nid = 0x407\n[language.texts]\nTXT_CANCEL = "Stopp"\n')
        for manifest in (work / "tree.toml", bare, languages):
            out = self.assert_same_setup_file(
                manifest, self.tree, STUB, "C:\\work\\" + manifest.name, "C:\\work\\tree product",
                "C:\\work\\stub.exe", manifest.stem)
        _, listing, _ = self.linux("inspect", out)
        self.assertIn('"data\\\\deep\\\\er\\\\table.bin"', listing)
        self.assertIn("time 2023-11-14T22:13:20.1234567Z", listing)

    def test_unicode_paths_and_names(self):
        # The command line, the manifest, the folders and the names outside
        # the ANSI code page: read as UTF-16, the package the same.
        work = self.prefix.drive_c / "work" / "\u00fcber \u65e5\u672c"
        files = {"\u00dcbersicht.txt": b"u", "\u041f\u0440\u0438\u0432\u0435\u0442/\u0444\u0430\u0439\u043b.txt": b"p",
                 "\u65e5\u672c\u8a9e.txt": b"j"}
        for rel, data in files.items():
            path = work / "pr\u00f6duct" / rel
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
            os.utime(path, ns=(1_700_000_000_000_000_000, 1_700_000_000_000_000_000))
        manifest = work / "m\u00e4nifest.toml"
        manifest.write_text('[product]\nname = "U"\nversion = "1"\npublisher = "P"\n' +
                            "".join(f'[[file]]\nsource = "{rel}"\n' for rel in files), encoding="utf-8")
        shutil.copy(STUB, work / "st\u00fcb.exe")
        win = "C:\\work\\\u00fcber \u65e5\u672c\\"
        # Wine turns the command line into UTF-16 in the host's locale.
        self.prefix.env["LC_ALL"] = "C.UTF-8"
        self.addCleanup(self.prefix.env.pop, "LC_ALL")
        out = self.assert_same_setup_file(manifest, work / "pr\u00f6duct", work / "st\u00fcb.exe",
                                          win + "m\u00e4nifest.toml", win + "pr\u00f6duct", win + "st\u00fcb.exe",
                                          "unicode")
        self.assertTrue(harness.inspect(out)["header"]["utf8_names"])

    def test_same_errors_and_commands(self):
        work = self.tmp / "errors"
        (work / "product").mkdir(parents=True)
        (work / "product" / "a.txt").write_text("a")
        shutil.copy(STUB, work / "stub.exe")
        head = '[product]\nname = "E"\nversion = "1"\npublisher = "P"\n'
        cases = {
            "unknown key": head + "colour = 1\n",
            "missing source": head + '[[file]]\nsource = "missing.bin"\n',
            "source outside": head + "[[file]]\nsource = '..\\stub.exe'\n",
            "properties": head + "[compression]\nproperties = 0xE1\n",
            "os bits": head + "[package]\nos = 0x80\n",
            "syntax": head + "[[file]\n",
            "language tag": 'languages = ["de", "xx"]\n' + head,
        }
        for name, text in cases.items():
            with self.subTest(name):
                (work / "m.toml").write_text(text)
                args = ["build", "--manifest", "m.toml", "--product-dir", "product", "--stub", "stub.exe",
                        "--output", "out.exe"]
                linux = self.linux(*args, cwd=work)
                windows = self.windows(*args, cwd=work)
                self.assertEqual(linux[0], 2)
                self.assertEqual(len(linux[2].splitlines()), 1, linux[2])
                self.assertEqual(windows, linux)
                self.assertFalse((work / "out.exe").exists())
        for args in (["--bogus"], ["build", "--level-of-detail"], ["inspect", "missing.exe"],
                     ["extract", "x.exe", "d", "--os", "dos"], ["--version"], ["build", "--help"],
                     ["languages"], ["languages", "--json"]):
            with self.subTest(args=args):
                self.assertEqual(self.windows(*args, cwd=work), self.linux(*args, cwd=work))


if __name__ == "__main__":
    unittest.main()
