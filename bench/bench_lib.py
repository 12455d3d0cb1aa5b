"""Shared pieces of the benchmark scripts."""
import hashlib
import os
from pathlib import Path


def file_sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            chunk = f.read(1 << 20)
            if not chunk:
                break
            h.update(chunk)
    return h.hexdigest()


def tree_digest(root):
    """(digest, file count, total bytes) of every regular file below root:
    sha256 over the sorted lines "relative/path\\0sha256hex\\n"."""
    root = Path(root)
    entries = []
    total = 0
    for dirpath, _, filenames in os.walk(root):
        for name in filenames:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, root).replace(os.sep, "/")
            entries.append((rel, file_sha256(path)))
            total += os.path.getsize(path)
    entries.sort()
    h = hashlib.sha256()
    for rel, digest in entries:
        h.update(f"{rel}\0{digest}\n".encode())
    return h.hexdigest(), len(entries), total
