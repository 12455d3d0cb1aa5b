#!/usr/bin/env python3
"""Writes the stub's manifest without the line breaks and indentation that
are there for its reader: every setup file carries the stub, byte for byte."""
import sys

if __name__ == "__main__":
    with open(sys.argv[1], encoding="utf-8") as f:
        text = f.read()
    with open(sys.argv[2], "w", encoding="utf-8", newline="") as f:
        f.write(" ".join(text.split()).replace("> <", "><"))
