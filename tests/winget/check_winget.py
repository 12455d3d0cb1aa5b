"""Packs setup files with the packer, writes their winget manifests with
"packer winget", and checks each manifest with PyYAML and jsonschema
against the published schemas.

usage: check_winget.py PACKER SOURCE_DIR WIN_BUILD_DIR
Needs Debian's python3-yaml and python3-jsonschema (scripts/bootstrap.sh)."""
import hashlib
import json
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

try:
    import jsonschema
    import yaml
except ImportError as missing:
    sys.exit(f"check_winget: {missing}; install python3-yaml and python3-jsonschema "
             f"(scripts/bootstrap.sh) and run this with the python3 that has them ({sys.executable} has not)")

PACKER, SOURCE, WIN = Path(sys.argv[1]), Path(sys.argv[2]), Path(sys.argv[3])
SCHEMAS = Path(__file__).resolve().parent / "schemas"
URL = "https://example.com/downloads/setup.exe"


def fake_pe_stub():
    """An MZ header and a PE32 optional header: all the packer checks."""
    stub = bytearray(0x200)
    stub[0:2] = b"MZ"
    stub[0x3C] = 0x40
    stub[0x40:0x44] = b"PE\0\0"
    stub[0x58:0x5A] = b"\x0b\x01"
    return bytes(stub)


def run(*args, code=0):
    r = subprocess.run([str(PACKER), *map(str, args)], capture_output=True, text=True)
    if r.returncode != code:
        raise AssertionError(f"packer {' '.join(map(str, args))}: exit {r.returncode}, expected {code}: {r.stderr}")
    return r


def validated(path, schema):
    document = yaml.safe_load(path.read_text(encoding="utf-8"))
    with open(SCHEMAS / f"manifest.{schema}.1.10.0.json", encoding="utf-8") as f:
        jsonschema.Draft7Validator(json.load(f)).validate(document)
    return document


def manifests(setup, out, *extra):
    r = run("winget", setup, "--url", URL, "--output", out, *extra)
    written = [Path(line) for line in r.stdout.splitlines()]
    assert len(written) == 3, r.stdout
    version, installer, locale = written
    assert installer.name.endswith(".installer.yaml") and locale.name.endswith(".locale.en-US.yaml"), written
    docs = validated(version, "version"), validated(installer, "installer"), validated(locale, "defaultLocale")
    for doc, path in zip(docs, written):
        assert path.read_text(encoding="utf-8").startswith("# yaml-language-server: $schema=https://aka.ms/"), path
        assert doc["PackageIdentifier"] == docs[0]["PackageIdentifier"] and doc["ManifestVersion"] == "1.10.0"
    assert version.name == docs[0]["PackageIdentifier"] + ".yaml"
    sha = hashlib.sha256(Path(setup).read_bytes()).hexdigest().upper()
    for entry in docs[1]["Installers"]:
        assert entry["InstallerSha256"] == sha and entry["InstallerUrl"] == URL, entry
    return docs, r.stderr


def build(work, manifest_text, files, stub):
    product = work / "product"
    for name, data in files.items():
        (product / name).parent.mkdir(parents=True, exist_ok=True)
        (product / name).write_bytes(data)
    (work / "m.toml").write_text(manifest_text, encoding="utf-8")
    run("build", "--manifest", work / "m.toml", "--product-dir", product, "--stub", stub,
        "--output", work / "setup.exe", "--quiet")
    return work / "setup.exe"


def main():
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        fake = tmp / "fake-stub.exe"
        fake.write_bytes(fake_pe_stub())
        stub = WIN / "setup-stub.exe"
        stub = stub if stub.exists() else fake

        # The sample product, as scripts/sample.sh packs it.
        sample = tmp / "sample"
        shutil.copytree(SOURCE / "sample" / "product", sample / "product")
        app = WIN / "sample_app.exe"
        (sample / "product" / "Sample.exe").write_bytes(app.read_bytes() if app.exists() else b"MZ sample")
        setup = build(sample, (SOURCE / "sample" / "manifest.toml").read_text(encoding="utf-8"), {}, stub)
        (version, installer, locale), notes = manifests(setup, sample / "out")
        assert notes == "", notes
        assert version["PackageIdentifier"] == "SamplePublisher.Sample" and version["PackageVersion"] == "1.0"
        assert [i["Architecture"] for i in installer["Installers"]] == ["x86", "x64", "arm64"]
        assert installer["InstallerSwitches"]["Log"] == '/LOG="<LOGPATH>"'
        assert installer["ExpectedReturnCodes"] == [{"InstallerReturnCode": 2, "ReturnResponse": "packageInUse"}]
        assert installer["AppsAndFeaturesEntries"][0]["ProductCode"] == "Sample"
        assert locale["Publisher"] == "Sample Publisher" and locale["PackageName"] == "Sample"

        # Names that need escaping, a publisher with dots and spaces, two architectures.
        name, publisher, ver = "Tool 'X' ü #1 {&}", 'Ex. "Ample" C:\\ Inc.', "2.0-beta+3"
        odd = tmp / "odd"
        setup = build(odd, "[product]\nname = %s\nversion = %s\npublisher = %s\n[package]\narch = [\"x64\", \"arm64\"]\n"
                      % (json.dumps(name), json.dumps(ver), json.dumps(publisher)), {"a.exe": b"A"}, fake)
        (version, installer, locale), notes = manifests(setup, odd / "out", "--description", "Tab\t\\ \"\u2028")
        assert version["PackageIdentifier"] == "ExAmpleCInc.Tool'X'ü#1{&}", version["PackageIdentifier"]
        assert locale["PackageName"] == name and locale["Publisher"] == publisher and version["PackageVersion"] == ver
        assert locale["ShortDescription"] == "Tab\t\\ \"\u2028"
        assert installer["AppsAndFeaturesEntries"][0]["DisplayName"] == name + " " + ver
        assert [i["Architecture"] for i in installer["Installers"]] == ["x64", "arm64"]
        assert "not ASCII" in notes, notes

        # Refusals: exit 2, one line, nothing written.
        refused = tmp / "refused"
        assert "not an https URL" in run("winget", setup, "--url", "http://example.com/s.exe", "--output", refused,
                                         code=2).stderr
        assert "--url: is required" in run("winget", setup, code=2).stderr
        assert "no valid package" in run("winget", fake, "--url", URL, "--output", refused, code=2).stderr
        assert not refused.exists()
    print("check_winget: the manifests of two setup files are valid")


if __name__ == "__main__":
    main()
