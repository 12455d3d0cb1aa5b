#!/usr/bin/env python3
"""Installs a setup file silently in a fresh Wine prefix and prints the
installed files and the uninstall entry."""
import os
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "wine"))
os.environ["KEEP_WINE_PREFIX"] = "1"
import harness  # noqa: E402

setup = Path(sys.argv[1]).resolve()
prefix = harness.Prefix("win64", name="sample")
result = prefix.run(setup, "/S", timeout=300)
print(f"== wine {setup.name} /S exited with {result.code}; prefix {prefix.path}")
target = prefix.host("C:\\Program Files\\Sample")
print(f"== installed files under C:\\Program Files\\Sample")
for path in sorted(p for p in target.rglob("*")):
    kind = "dir " if path.is_dir() else f"{path.stat().st_size:>8}"
    print(f"  {kind}  {path.relative_to(target)}")
key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample"
values = prefix.reg_query("64", key, "DisplayName", "DisplayVersion", "Publisher", "InstallLocation",
                          "UninstallString", "DisplayIcon", "NoModify", "NoRepair", "EstimatedSize")
print(f"== uninstall entry HKLM\\{key}")
for name, value in (values or {}).items():
    print(f"  {name:16} {'absent' if value is None else value[2]}")
prefix.close()
ok = result.code == 0 and target.is_dir() and values
sys.exit(0 if ok else 1)
