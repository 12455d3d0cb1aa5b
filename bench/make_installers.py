#!/usr/bin/env python3
"""Builds the benchmark's installers from the payload folder.

    make_installers.py --work build/bench --packer PACKER --stub setup-stub.exe

Writes into WORK:
  setup-ours.exe    the stub with the payload package (packer, 0x5D, 8 MiB)
  setup-ours-chunked.exe  the same payload in chunks (the packer's default
                    chunk size and threads); setup-ours.exe is one stream
                    (--chunk-size 0), as before chunks
  setup-ours-norecord.exe  the same packed with --no-prefix-record: the stub
                    decodes everything before its wizard shows (as before the
                    prefix record)
  setup-tiny.exe    the stub with a one-file package (memory baseline)
  setup-nsis.exe    NSIS, SetCompressor /SOLID lzma, 8 MiB dictionary
  setup-nsis-gui.exe  the same with only the instfiles page, for a run with
                    its window (it closes itself when done)
  setup-nsis-licence.exe  the same with a licence page, the directory page and
                    instfiles, for the time to its first window
  empty-nsis.exe    NSIS with one empty section, same settings
  installers.json   sizes and the inputs they were built from

    make_installers.py ... --level 1 --no-nsis   for the 1 GiB payload: a fast
                    encoder level, and ours only (no NSIS installers)
    make_installers.py ... --no-norecord   without setup-ours-norecord.exe (the
                    400 MiB random payload, whose single stream packs slowly)
    make_installers.py ... --chunked-only   the chunked setup file and the
                    one-file package alone (the 3 GiB payload, which one
                    stream would take hours to pack)

Packing 150 MB takes minutes, so the package (everything after the stub) is
kept in package.bin and reused while the payload and the manifest stay the
same; a rebuilt stub is then joined to it, which yields the file the packer
would write (the packer appends to the stub without changing it).
"""
import argparse
import hashlib
import json
import os
import struct
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench_lib  # noqa: E402

PRODUCT = "BenchPayload"
TARGET = "C:\\bench\\target"
PROPERTIES = 0x5D
DICTIONARY = 8 << 20
CHUNK_TABLE_MAGIC = 0x4B4E4843  # "CHNK", before the 12-byte prefix record


def toml_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def manifest_text(files):
    lines = [
        "[product]",
        f"name = {toml_string(PRODUCT)}",
        'version = "1.0"',
        'publisher = "Bench"',
        f"default_install_dir = {toml_string(TARGET)}",
        "",
        "[compression]",
        f"properties = 0x{PROPERTIES:02X}",
        f"dictionary = {DICTIONARY}",
        "",
    ]
    for rel in files:
        lines += ["[[file]]", f"source = {toml_string(rel)}", f"name = {toml_string(rel.replace('/', chr(92)))}", ""]
    return "\n".join(lines)


LICENCE = ("Benchmark licence\r\n\r\nThis product is provided as is, without warranty of any kind. "
           "Accept these terms to install it.\r\n") * 20


def nsis_text(out_file, tree, gui=False, licence=None):
    header = [
        "Unicode true",
        "SetCompressor /SOLID lzma",
        "SetCompressorDictSize 8",
        "RequestExecutionLevel admin",
        f'Name "{PRODUCT}"',
        f'OutFile "{out_file}"',
        f'InstallDir "{TARGET}"',
        "",
    ]
    if gui:
        # Straight to the installation, and the process ends when it is done.
        header += ["Page instfiles", "AutoCloseWindow true", ""]
    if licence:
        header += [f'LicenseData "{licence}"', "Page license", "Page directory", "Page instfiles", ""]
    if tree is None:
        return "\n".join(header + ['Section ""', "SectionEnd", ""])
    return "\n".join(header + ['Section ""', '  SetOutPath "$INSTDIR"', f'  File /r "{tree}/*"',
                               "SectionEnd", ""])


def sha256_bytes(data):
    return hashlib.sha256(data).hexdigest()


def run(cmd, **kw):
    result = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if result.returncode != 0:
        sys.exit(f"failed: {' '.join(map(str, cmd))}\n{result.stdout}\n{result.stderr}")
    return result


def pack(work, packer, stub, manifest, product_dir, output, cache_key, options=()):
    """The stub with its package; the package is reused while cache_key holds.
    Returns the packer's JSON listing of the result, which also checks it."""
    cache_key = json.dumps([cache_key, list(options)]) if options else cache_key
    package = work / (output.stem + ".package.bin")
    bound_stub = work / (output.stem + ".stub.bin")
    key_file = work / (output.stem + ".package.key")
    stub_bytes = stub.read_bytes()
    # The stub as written carries the package's hash: a new stub packs anew.
    cache_key += " stub " + hashlib.sha256(stub_bytes).hexdigest()
    if not (package.exists() and bound_stub.exists() and key_file.exists() and key_file.read_text() == cache_key):
        tmp = work / (output.name + ".tmp")
        run([packer, "build", "--manifest", manifest, "--product-dir", product_dir, "--stub", stub,
             "--output", tmp, "--properties", str(PROPERTIES), "--dictionary", str(DICTIONARY), *options])
        image = tmp.read_bytes()
        # Only the hash slot of the stub (32 bytes) may differ.
        changed = [i for i, (a, b) in enumerate(zip(image[:len(stub_bytes)], stub_bytes)) if a != b]
        assert not changed or changed[-1] - changed[0] < 32, "the packer changed the stub"
        bound_stub.write_bytes(image[:len(stub_bytes)])
        package.write_bytes(image[len(stub_bytes):])
        key_file.write_text(cache_key)
        tmp.unlink()
    output.write_bytes(bound_stub.read_bytes() + package.read_bytes())
    return json.loads(run([packer, "inspect", "--json", output]).stdout)


def chunk_table(setup, trailer):
    """The chunk records (packed offset, packed size, unpacked offset,
    unpacked size, CRC-32, flags) that end before the prefix record; none
    for a single stream."""
    with open(setup, "rb") as f:
        f.seek(trailer["packed_offset"] - 24)
        magic, count, _ = struct.unpack("<III", f.read(12))
        if magic != CHUNK_TABLE_MAGIC:
            return []
        f.seek(trailer["packed_offset"] - 24 - 40 * count)
        table = f.read(40 * count)
    return [struct.unpack_from("<QQQQII", table, 40 * i) for i in range(count)]


def makensis(script_path, text, output, cache_key):
    key_file = output.with_suffix(".key")
    if output.exists() and key_file.exists() and key_file.read_text() == cache_key:
        return
    script_path.write_text(text)
    run(["makensis", "-V2", "-NOCD", script_path])
    key_file.write_text(cache_key)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", required=True, type=Path)
    ap.add_argument("--packer", required=True, type=Path)
    ap.add_argument("--stub", required=True, type=Path)
    ap.add_argument("--level", type=int, help="the packer's encoder level instead of the default")
    ap.add_argument("--no-nsis", action="store_true", help="only our setup files")
    ap.add_argument("--chunked-only", action="store_true", help="only the chunked setup file (and the tiny one)")
    ap.add_argument("--no-norecord", action="store_true", help="no setup file without the prefix record")
    args = ap.parse_args()
    level = ["--level", str(args.level)] if args.level is not None else []
    work = args.work.resolve()
    payload = json.loads((work / "payload" / "payload.json").read_text())
    tree = work / "payload" / "tree"
    files = [entry[0] for entry in payload["selection"]]

    manifest = work / "payload.toml"
    manifest_body = manifest_text(files)
    manifest.write_text(manifest_body)
    packer_hash = bench_lib.file_sha256(args.packer)
    key = json.dumps({"payload": payload["digest"], "manifest": sha256_bytes(manifest_body.encode()),
                      "packer": packer_hash})
    single = ["--chunk-size", "0", *level]
    if not args.chunked_only:
        ours = pack(work, args.packer, args.stub, manifest, tree, work / "setup-ours.exe", key, single)
        if not args.no_norecord:
            pack(work, args.packer, args.stub, manifest, tree, work / "setup-ours-norecord.exe", key,
                 ["--no-prefix-record", *single])
    chunked = pack(work, args.packer, args.stub, manifest, tree, work / "setup-ours-chunked.exe", key, level)

    tiny_dir = work / "tiny"
    tiny_dir.mkdir(exist_ok=True)
    (tiny_dir / "readme.txt").write_text("benchmark baseline\n")
    os.utime(tiny_dir / "readme.txt", (1700000000, 1700000000))
    tiny_manifest = work / "tiny.toml"
    tiny_body = manifest_text(["readme.txt"]).replace(TARGET.replace("\\", "\\\\"), "C:\\\\bench\\\\tiny")
    tiny_manifest.write_text(tiny_body)
    tiny_key = json.dumps({"manifest": sha256_bytes(tiny_body.encode()), "packer": packer_hash})
    pack(work, args.packer, args.stub, tiny_manifest, tiny_dir, work / "setup-tiny.exe", tiny_key)

    info = {
        "stub": {"path": str(args.stub), "bytes": args.stub.stat().st_size},
        "target": TARGET,
        "product": PRODUCT,
        "properties": PROPERTIES,
        "dictionary": DICTIONARY,
        "level": args.level,
    }
    # The trailer's sizes, for the memory bound; the chunks, for the chunked one's.
    kinds = [("ours_chunked", "setup-ours-chunked.exe", chunked)]
    if not args.chunked_only:
        kinds += [("ours", "setup-ours.exe", ours)]
    if not args.chunked_only and not args.no_norecord:
        kinds += [("ours_norecord", "setup-ours-norecord.exe", None)]
    for name, file_name, listing in kinds:
        info[name] = {"bytes": (work / file_name).stat().st_size}
        if listing:
            trailer = listing["trailer"]
            info[name].update({"packed": trailer["packed_size"], "unpacked": trailer["unpacked_size"],
                               "extra": trailer["extra_size"]})
    chunks = chunk_table(work / "setup-ours-chunked.exe", chunked["trailer"])
    info["ours_chunked"].update({"chunks": len(chunks), "stored_chunks": sum(1 for c in chunks if c[5] & 1),
                                 "largest_chunk": max((c[3] for c in chunks), default=0)})
    if not args.no_nsis:
        info.update(nsis_installers(work, tree, payload))
    (work / "installers.json").write_text(json.dumps(info, indent=1) + "\n")
    print(json.dumps(info))


def nsis_installers(work, tree, payload):
    nsis_key = json.dumps({"payload": payload["digest"], "makensis": run(["makensis", "-VERSION"]).stdout})
    makensis(work / "payload.nsi", nsis_text(work / "setup-nsis.exe", tree), work / "setup-nsis.exe", nsis_key)
    makensis(work / "payload-gui.nsi", nsis_text(work / "setup-nsis-gui.exe", tree, gui=True),
             work / "setup-nsis-gui.exe", nsis_key)
    licence = work / "licence.txt"
    licence.write_text(LICENCE)
    makensis(work / "payload-licence.nsi", nsis_text(work / "setup-nsis-licence.exe", tree, licence=licence),
             work / "setup-nsis-licence.exe", json.dumps([nsis_key, sha256_bytes(LICENCE.encode())]))
    makensis(work / "empty.nsi", nsis_text(work / "empty-nsis.exe", None), work / "empty-nsis.exe", nsis_key)

    return {
        "nsis": {"bytes": (work / "setup-nsis.exe").stat().st_size},
        "nsis_gui": {"bytes": (work / "setup-nsis-gui.exe").stat().st_size},
        "nsis_licence": {"bytes": (work / "setup-nsis-licence.exe").stat().st_size},
        "nsis_empty": {"bytes": (work / "empty-nsis.exe").stat().st_size},
    }


if __name__ == "__main__":
    main()
