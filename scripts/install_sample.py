#!/usr/bin/env python3
"""Installs a setup file silently in a fresh Wine prefix and prints the
installed files and the uninstall entry."""
import os
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "wine"))
os.environ["KEEP_WINE_PREFIX"] = "1"
import harness  # noqa: E402

setup = Path(sys.argv[1]).resolve()
# Keep only the newest sample prefix, for a look around after the run.
for old in harness.WORK.glob("sample-*"):
    shutil.rmtree(old, ignore_errors=True)
prefix = harness.Prefix("win64", name="sample")
result = prefix.run(setup, "/S", timeout=300)
print(f"== wine {setup.name} /S exited with {result.code}; prefix {prefix.path}")
key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample"
names = ("DisplayName", "DisplayVersion", "Publisher", "InstallLocation", "UninstallString",
         "DisplayIcon", "NoModify", "NoRepair", "EstimatedSize")
# The entry lies in the view the package's registry flag selects.
view, values = next(((v, prefix.reg_query(v, key, *names)) for v in ("64", "32")
                     if prefix.reg_query(v, key, "DisplayName")), (None, None))
location = values["InstallLocation"][2] if values and values.get("InstallLocation") else None
if location:
    target = prefix.host(location)
    print(f"== installed files under {location}")
    for path in sorted(target.rglob("*")):
        kind = "dir " if path.is_dir() else f"{path.stat().st_size:>8}"
        print(f"  {kind}  {path.relative_to(target)}")
    print(f"== uninstall entry HKLM\\{key} ({view}-bit registry view)")
    for name, value in values.items():
        print(f"  {name:16} {'absent' if value is None else value[2]}")
prefix.close()
sys.exit(0 if result.code == 0 and location and target.is_dir() else 1)
