#!/usr/bin/env python3
"""Builds the benchmark payload: a folder of about 150 MB in a few thousand
files copied from places every Debian system has, chosen deterministically
(sorted walk, per-source byte quota, size and name limits).

    make_payload.py OUT_DIR

Writes OUT_DIR/tree/ (the files, with their modification times) and
OUT_DIR/payload.json (file count, total size, digest and the file list).
The digest is the sha256 of the sorted lines "relative/path\\0sha256hex\\n";
install_digest() in bench_lib.py computes the same over an installed tree.
A second run with the same selection reuses the tree.
"""
import json
import os
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
MAX_FILE = 4 << 20          # no single file dominates the payload
MAX_RELATIVE_PATH = 150     # InstallDir plus the name stays far below MAX_PATH
SAFE_COMPONENT = re.compile(r"^[A-Za-z0-9_+\-][A-Za-z0-9._+\-]*$")
DOS_DEVICES = {"con", "prn", "aux", "nul"} | {f"com{i}" for i in range(10)} | {f"lpt{i}" for i in range(10)}


def windows_safe(relative):
    for part in relative.split("/"):
        if not SAFE_COMPONENT.match(part) or part.endswith(".") or part.split(".")[0].lower() in DOS_DEVICES:
            return False
    return len(relative) <= MAX_RELATIVE_PATH


def select():
    """[(payload path, source path, size, mtime_ns)] in sorted order."""
    chosen = []
    folded = set()
    for folder, root, quota in SOURCES:
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
            if st.st_size > MAX_FILE or used + st.st_size > quota:
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


def main():
    out = Path(sys.argv[1]).resolve()
    tree = out / "tree"
    record = out / "payload.json"
    chosen = select()
    selection = [[d, s, size, mtime] for d, s, size, mtime in chosen]
    if record.exists() and tree.exists():
        old = json.loads(record.read_text())
        if old.get("selection") == selection:
            digest, files, size = bench_lib.tree_digest(tree)
            if digest == old["digest"]:
                print(f"payload: reused {files} files, {size} bytes, digest {digest[:16]}")
                return
    shutil.rmtree(tree, ignore_errors=True)
    tree.mkdir(parents=True)
    for dest, source, _, _ in chosen:
        target = tree / dest
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, target)
        st = os.stat(source)
        os.utime(target, ns=(st.st_atime_ns, st.st_mtime_ns))
    digest, files, size = bench_lib.tree_digest(tree)
    assert files == len(chosen)
    record.write_text(json.dumps({
        "files": files, "bytes": size, "digest": digest,
        "sources": [{"folder": f, "source": r, "quota": q} for f, r, q in SOURCES],
        "selection": selection,
    }, indent=1) + "\n")
    print(f"payload: {files} files, {size} bytes, digest {digest[:16]}")


if __name__ == "__main__":
    main()
