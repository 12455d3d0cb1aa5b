"""The control ids of the wizard dialog, read from ui/dialog_ids.h, so that
the dialog template and the tests that drive it use the stub's own numbers."""
import re
from pathlib import Path

HEADER = Path(__file__).resolve().parents[1] / "ui" / "dialog_ids.h"


def read(header=HEADER):
    """{name: value} of every "#define IDC_NAME number" line."""
    ids = {}
    for m in re.finditer(r"^#define\s+(IDC_\w+)\s+(\d+)\s*$", Path(header).read_text(), re.MULTILINE):
        ids[m.group(1)] = int(m.group(2))
    return ids
