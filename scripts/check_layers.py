#!/usr/bin/env python3
"""Fails when a source file includes a header of a room above its own.

The rooms, bottom to top: base <- package <- env <- install <- ui <- startup.
The packer may use any room below ui; resources/ holds data every room may
read. Run by the tests (ctest: layers); prints each include that goes up."""
import re
import sys
from pathlib import Path

ORDER = ["resources", "base", "package", "env", "install", "ui", "startup"]
RANK = {room: i for i, room in enumerate(ORDER)}
# The packer sits beside the stub's rooms: it may include those below ui,
# and no room of the stub includes it.
SOURCES = dict(RANK, packer=RANK["ui"])

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.M)


def violations(root):
    for room, rank in SOURCES.items():
        for path in sorted((root / room).glob("*")):
            if path.suffix not in (".h", ".cpp", ".rc"):
                continue
            for target in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
                if target == "packer" and room != "packer":
                    yield f"{path.relative_to(root)} includes packer/, which the stub's rooms do not use"
                elif target in RANK and target != room and RANK[target] >= rank:
                    yield f"{path.relative_to(root)} includes {target}/, which is not below {room}/"


def main():
    root = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[1]
    found = list(violations(root))
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
