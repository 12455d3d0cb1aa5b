#!/usr/bin/env python3
"""Writes the stub's manifest without the line breaks and indentation that
are there for its reader: every setup file carries the stub, byte for byte.

    compact_manifest.py SOURCE OUTPUT VERSION
VERSION (a.b.c.d, the project's) takes the place of @STUB_VERSION_TEXT@."""
import sys

if __name__ == "__main__":
    with open(sys.argv[1], encoding="utf-8") as f:
        text = f.read().replace("@STUB_VERSION_TEXT@", sys.argv[3])
    with open(sys.argv[2], "w", encoding="utf-8", newline="") as f:
        f.write(" ".join(text.split()).replace("> <", "><"))
