#!/usr/bin/env python3
"""Writes dialog template 1 (the wizard) as a DLGTEMPLATEEX resource.

The template is built byte by byte because resource compilers add styles
of their own to CONTROL statements; here every style is exactly as listed.
"""
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import dialog_ids  # noqa: E402

DIALOG_STYLE = 0x90CA0848  # POPUP|VISIBLE|CAPTION|SYSMENU|MINIMIZEBOX|CENTER|SHELLFONT
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82

ID = dialog_ids.read()

# id, class (ordinal or name), style, x, y, cx, cy, title (text or ordinal)
# The order is the tab order: a page's own controls, then the buttons. The
# text pane, made at run time, comes last, which in the cycle Tab goes round
# is the same as before the controls below it.
CONTROLS = [
    (ID["IDC_TEXT_FRAME"], STATIC, 0x50000008, 8, 42, 316, 130, ""),
    (ID["IDC_ACCEPT"], BUTTON, 0x50010003, 8, 177, 192, 9, ""),
    (ID["IDC_DIR_LABEL"], STATIC, 0x40000000, 8, 42, 308, 9, ""),
    (ID["IDC_DIR_EDIT"], EDIT, 0x40810080, 8, 53, 269, 13, ""),
    (ID["IDC_BROWSE"], BUTTON, 0x40010000, 279, 52, 45, 14, ""),
    (ID["IDC_DESKTOP_SHORTCUT"], BUTTON, 0x40010003, 8, 73, 229, 10, ""),
    (ID["IDC_PROGRESS"], "msctls_progress32", 0x40000001, 8, 178, 316, 11, ""),
    (ID["IDC_LAUNCH"], BUTTON, 0x40010003, 8, 42, 229, 10, ""),
    (ID["IDC_BACK"], BUTTON, 0x40010000, 168, 201, 50, 14, ""),
    (ID["IDC_NEXT"], BUTTON, 0x58010001, 219, 201, 50, 14, ""),  # the default button
    (ID["IDC_CANCEL"], BUTTON, 0x50010000, 274, 201, 50, 14, ""),
    (-1, STATIC, 0x50000010, 0, 35, 354, 1, ""),  # upper separator
    (-1, STATIC, 0x50000010, 0, 193, 333, 1, ""),  # lower separator
    (ID["IDC_HEADER_BAND"], STATIC, 0x50000000, 0, 0, 352, 35, ""),
    (ID["IDC_TITLE"], STATIC, 0x50000000, 10, 5, 280, 10, ""),
    (ID["IDC_SUBTITLE"], STATIC, 0x50000000, 15, 16, 276, 16, ""),
    (ID["IDC_HEADER_ICON"], STATIC, 0x50000003, 297, 8, 21, 20, 1),  # icon group 1
]


def sz_or_ord(value):
    if isinstance(value, int):
        return struct.pack("<HH", 0xFFFF, value)
    return (value + "\0").encode("utf-16-le")


def align4(data):
    return data + b"\0" * (-len(data) % 4)


def build():
    out = struct.pack("<HHIIIHhhhh", 1, 0xFFFF, 0, 0, DIALOG_STYLE, len(CONTROLS), 0, 0, 331, 222)
    out += b"\0\0" + b"\0\0" + b"\0\0"  # no menu, default class, empty caption
    out += struct.pack("<HHBB", 8, 0, 0, 0) + "MS Shell Dlg\0".encode("utf-16-le")
    for cid, cls, style, x, y, cx, cy, title in CONTROLS:
        out = align4(out)
        out += struct.pack("<IIIhhhhi", 0, 0, style, x, y, cx, cy, cid)
        out += sz_or_ord(cls) + sz_or_ord(title) + struct.pack("<H", 0)
    return out


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(build())
