#!/usr/bin/env python3
"""Builds a benchmark payload.

    make_payload.py OUT_DIR [--kind system|docs|many-small|big|random|huge]

system (the default): a folder of about 150 MB in a few thousand files
copied from places every Debian system has, chosen deterministically (sorted
walk, per-source byte quota, size and name limits).
docs: the first 3,000 files of /usr/share/doc in that walk, a documentation
set of text, HTML and compressed change logs.
big: 1 GiB of /usr/lib and /usr/share in the same kind of walk, for the
time to the first window of a large package.
random: 400 MiB of random bytes in 20 files, which do not compress: what a
chunked package stores as it is.
huge: 3 GiB generated, half random bytes and half text, in files of 1 KB to
200 MB, for the memory of a chunked package's installation; about 3 GiB on
the disk (run.sh deletes it after its run).
many-small: 100,000 generated text files of 50 to 700 bytes in 500 folders
(about 39 MB), the shape of an SDK or a documentation set; the same bytes,
names and times on every machine.

Writes OUT_DIR/tree/ (the files, with their modification times) and
OUT_DIR/payload.json (file count, total size, digest and the file list).
The digest is the sha256 of the sorted lines "relative/path\\0sha256hex\\n";
install_digest() in bench_lib.py computes the same over an installed tree.
A second run with the same selection reuses the tree.
"""
import argparse
import json
import os
import random
import re
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench_lib  # noqa: E402

# (folder in the payload, source, byte quota). Python's standard library and
# the locale catalogues, the package documentation and the shared libraries
# give a realistic mix of text, compressed and binary files.
SOURCES = [
    ("python", "/usr/lib/python3.11", 40 << 20),
    ("locale", "/usr/share/locale", 25 << 20),
    ("doc", "/usr/share/doc", 20 << 20),
    ("lib", "/usr/lib/x86_64-linux-gnu", 73 << 20),
]
DOCS_SOURCES = [("doc", "/usr/share/doc", 1 << 30)]
DOCS_FILES = 3000
BIG_SOURCES = [("lib", "/usr/lib", 768 << 20), ("share", "/usr/share", 256 << 20)]
MAX_FILE = 4 << 20          # no single file dominates the payload
MAX_RELATIVE_PATH = 150     # InstallDir plus the name stays far below MAX_PATH
SAFE_COMPONENT = re.compile(r"^[A-Za-z0-9_+\-][A-Za-z0-9._+\-]*$")
DOS_DEVICES = {"con", "prn", "aux", "nul"} | {f"com{i}" for i in range(10)} | {f"lpt{i}" for i in range(10)}


def windows_safe(relative):
    for part in relative.split("/"):
        if not SAFE_COMPONENT.match(part) or part.endswith(".") or part.split(".")[0].lower() in DOS_DEVICES:
            return False
    return len(relative) <= MAX_RELATIVE_PATH


def select(sources, max_files=None):
    """[(payload path, source path, size, mtime_ns)] in sorted order."""
    chosen = []
    folded = set()
    for folder, root, quota in sources:
        candidates = []
        for dirpath, dirnames, filenames in os.walk(root):
            dirnames.sort()
            for name in filenames:
                path = os.path.join(dirpath, name)
                if os.path.islink(path) or not os.path.isfile(path):
                    continue
                candidates.append(os.path.relpath(path, root).replace(os.sep, "/"))
        candidates.sort()
        used = 0
        for rel in candidates:
            dest = f"{folder}/{rel}"
            if not windows_safe(dest) or dest.lower() in folded or dest.lower() + "/" in folded:
                continue
            st = os.stat(os.path.join(root, rel))
            if st.st_size > MAX_FILE or used + st.st_size > quota or len(chosen) == max_files:
                continue
            if not os.access(os.path.join(root, rel), os.R_OK):
                continue
            # A directory and a file whose names differ only in case collide on Windows.
            parts = dest.lower().split("/")
            if any("/".join(parts[:i]) in folded for i in range(1, len(parts))):
                continue
            folded.add(dest.lower())
            for i in range(1, len(parts)):
                folded.add("/".join(parts[:i]) + "/")
            chosen.append((dest, os.path.join(root, rel), st.st_size, st.st_mtime_ns))
            used += st.st_size
    chosen.sort()
    return chosen


MANY_SMALL_FOLDERS = 500
MANY_SMALL_PER_FOLDER = 200
MANY_SMALL_SIZES = (50, 700)
MANY_SMALL_EXTENSIONS = ["txt"] * 6 + ["md", "rst", "html", "py"]
MANY_SMALL_EPOCH = 1700000000
SYLLABLES = (1, 2, 2, 3, 3, 4)


def word_list(rng, count=3000):
    """Pronounceable words made of syllables: a word list that every machine
    has, because it is made here."""
    onsets = ["", "b", "c", "d", "f", "g", "h", "k", "l", "m", "n", "p", "r", "s", "t", "v", "w",
              "br", "ch", "cl", "dr", "gr", "pl", "st", "th", "tr"]
    vowels = ["a", "e", "i", "o", "u", "ai", "ea", "io", "ou"]
    codas = ["", "", "n", "r", "s", "t", "l", "m", "nd", "st", "ck"]
    words = set()
    while len(words) < count:
        words.add("".join(rng.choice(onsets) + rng.choice(vowels) + rng.choice(codas)
                          for _ in range(rng.choice(SYLLABLES))))
    return sorted(words)


def many_small():
    """[(payload path, bytes, mtime_ns)]: text of words drawn with a skewed
    frequency, as prose is, cut to a size between the bounds."""
    rng = random.Random(100000)
    words = word_list(rng)
    weights = [1 / (rank + 1) ** 1.5 for rank in range(len(words))]
    rng.shuffle(words)
    files = []
    folders = sorted(set(f"{a}_{b}" for a, b in zip(rng.sample(words, MANY_SMALL_FOLDERS),
                                                     rng.sample(words, MANY_SMALL_FOLDERS))))
    for folder in folders:
        names = set()
        while len(names) < MANY_SMALL_PER_FOLDER:
            names.add(f"{rng.choice(words)}_{rng.choice(words)}.{rng.choice(MANY_SMALL_EXTENSIONS)}")
        for name in sorted(names):
            size = rng.randint(*MANY_SMALL_SIZES)
            text = []
            length = 0
            while length < size:
                line = " ".join(rng.choices(words, weights, k=rng.randint(4, 14))) + "\n"
                text.append(line)
                length += len(line)
            data = "".join(text)[:size - 1].encode() + b"\n"
            files.append((f"{folder}/{name}", data, (MANY_SMALL_EPOCH + len(files) * 7) * 10**9))
    return files


def write_many_small(out, tree, record):
    files = many_small()
    selection = [[dest, None, len(data), mtime] for dest, data, mtime in files]
    if reusable(tree, record, selection):
        return
    shutil.rmtree(tree, ignore_errors=True)
    tree.mkdir(parents=True)
    for dest, data, mtime in files:
        target = tree / dest
        target.parent.mkdir(exist_ok=True)
        target.write_bytes(data)
        os.utime(target, ns=(mtime, mtime))
    finish(tree, record, selection, {"kind": "many-small", "folders": MANY_SMALL_FOLDERS,
                                     "sizes": list(MANY_SMALL_SIZES)})


GENERATED_EPOCH = 1700000000


def generated_files(kind):
    """[(payload path, size, kind of bytes)], the same on every machine."""
    if kind == "random":
        return [(f"media/clip{i:02d}.bin", 20 << 20, "random") for i in range(20)]
    rng = random.Random(3 << 30)
    files = []
    for half in ("random", "text"):
        left = 3 << 29
        while left > 0:
            # Sizes spread evenly over the orders of magnitude, 1 KB to 200 MB.
            size = min(left, int(10 ** rng.uniform(3, 8.3)))
            files.append((f"{half}/{len(files) // 100:02d}/f{len(files):04d}.{'bin' if half == 'random' else 'txt'}",
                          size, half))
            left -= size
    return files


def write_generated(kind, tree, record):
    """Random bytes come from a seeded generator, text from a generated word
    list in lines of skewed word frequency, written a piece at a time."""
    files = generated_files(kind)
    selection = [[dest, what, size, GENERATED_EPOCH * 10**9] for dest, size, what in files]
    if reusable(tree, record, selection):
        return
    shutil.rmtree(tree, ignore_errors=True)
    rng = random.Random(kind)
    words = word_list(rng)
    weights = [1 / (rank + 1) ** 1.5 for rank in range(len(words))]
    # Text from a pool of pieces, drawn anew for each 64 KiB, so that no
    # long stretch repeats within an encoder's dictionary.
    pieces = [(" ".join(rng.choices(words, weights, k=12000)) + "\n").encode()[:65536] for _ in range(256)]
    assert min(map(len, pieces)) == 65536
    for dest, size, what in files:
        target = tree / dest
        target.parent.mkdir(parents=True, exist_ok=True)
        with open(target, "wb") as f:
            left = size
            while left > 0:
                n = min(left, 1 << 20)
                if what == "random":
                    f.write(rng.randbytes(n))
                else:
                    block = b"".join(rng.choice(pieces) for _ in range((n >> 16) + 1))
                    f.write(block[:n])
                left -= n
        os.utime(target, ns=(GENERATED_EPOCH * 10**9, GENERATED_EPOCH * 10**9))
    finish(tree, record, selection, {"kind": kind})


def reusable(tree, record, selection):
    if record.exists() and tree.exists():
        old = json.loads(record.read_text())
        if old.get("selection") == selection:
            digest, files, size = bench_lib.tree_digest(tree)
            if digest == old["digest"]:
                print(f"payload: reused {files} files, {size} bytes, digest {digest[:16]}")
                return True
    return False


def finish(tree, record, selection, description):
    digest, files, size = bench_lib.tree_digest(tree)
    assert files == len(selection)
    record.write_text(json.dumps(dict({"files": files, "bytes": size, "digest": digest}, **description,
                                      selection=selection), indent=1) + "\n")
    print(f"payload: {files} files, {size} bytes, digest {digest[:16]}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out", type=Path)
    ap.add_argument("--kind", choices=["system", "docs", "many-small", "big", "random", "huge"], default="system")
    args = ap.parse_args()
    out = args.out.resolve()
    tree = out / "tree"
    record = out / "payload.json"
    if args.kind == "many-small":
        write_many_small(out, tree, record)
        return
    if args.kind in ("random", "huge"):
        write_generated(args.kind, tree, record)
        return
    sources = {"docs": DOCS_SOURCES, "big": BIG_SOURCES}.get(args.kind, SOURCES)
    chosen = select(sources, DOCS_FILES if args.kind == "docs" else None)
    selection = [[d, s, size, mtime] for d, s, size, mtime in chosen]
    if reusable(tree, record, selection):
        return
    shutil.rmtree(tree, ignore_errors=True)
    tree.mkdir(parents=True)
    for dest, source, _, _ in chosen:
        target = tree / dest
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, target)
        st = os.stat(source)
        os.utime(target, ns=(st.st_atime_ns, st.st_mtime_ns))
    finish(tree, record, selection, {"kind": args.kind,
                                     "sources": [{"folder": f, "source": r, "quota": q} for f, r, q in sources]})


if __name__ == "__main__":
    main()
