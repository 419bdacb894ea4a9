#!/usr/bin/env python3
"""Packages the plugin for Notepad++'s Plugins Admin.

Writes into --out, for one architecture:
  Siftwell-<version>-<arch>.zip         Siftwell.dll at the zip's root (Plugins Admin unpacks the
                                        zip into plugins\\<folder-name>\\ itself)
  Siftwell-<version>-<arch>.zip.sha256  its SHA-256, in sha256sum's format
  Siftwell-<version>-<arch>.json        the plugin-list entry for the host's list

The zip is the same bytes for the same DLL: one entry, fixed time, attributes and compression.
"""

import argparse
import hashlib
import json
import zipfile
from pathlib import Path

FOLDER = "Siftwell"
# The earliest time a zip entry can carry: nothing of the build machine's clock.
ZIP_TIME = (1980, 1, 1, 0, 0, 0)


def write_zip(dll: Path, zip_path: Path) -> None:
    info = zipfile.ZipInfo(f"{FOLDER}.dll", date_time=ZIP_TIME)
    info.create_system = 0               # MS-DOS attributes, as Windows tools write them
    info.external_attr = 0x20            # FILE_ATTRIBUTE_ARCHIVE
    info.compress_type = zipfile.ZIP_DEFLATED
    tmp = zip_path.with_suffix(".zip.tmp")
    with zipfile.ZipFile(tmp, "w") as z:
        z.writestr(info, dll.read_bytes(), compresslevel=9)
    tmp.replace(zip_path)


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--dll", required=True, type=Path)
    p.add_argument("--arch", required=True, choices=["x86", "x64"])
    p.add_argument("--version", required=True, help="the DLL's FileVersion, a.b.c.d")
    p.add_argument("--out", required=True, type=Path)
    p.add_argument("--release-url", required=True, help="where release zips are downloaded from (no trailing /)")
    p.add_argument("--homepage", required=True)
    p.add_argument("--npp-min", default="", help="lowest Notepad++ version the package works in, if any")
    a = p.parse_args()

    a.out.mkdir(parents=True, exist_ok=True)
    name = f"{FOLDER}-{a.version}-{a.arch}"
    for old in a.out.glob(f"{FOLDER}-*-{a.arch}.*"):  # an earlier version's package
        if not old.name.startswith(name + "."):
            old.unlink()
    zip_path = a.out / f"{name}.zip"
    write_zip(a.dll, zip_path)
    digest = hashlib.sha256(zip_path.read_bytes()).hexdigest()
    (a.out / f"{name}.zip.sha256").write_text(f"{digest}  {zip_path.name}\n", encoding="ascii")

    entry = {
        "folder-name": FOLDER,
        "display-name": "Siftwell",
        "version": a.version,
        "id": digest,
        "repository": f"{a.release_url}/v{a.version}/{zip_path.name}",
        "description": "Filters the active document by a regular expression (PCRE2): keep every match, "
                       "each followed by a delimiter, or remove every match. One undo restores the document.",
        "author": "The Siftwell developers",
        "homepage": a.homepage,
    }
    if a.npp_min:
        entry["npp-compatible-versions"] = f"[{a.npp_min},]"
    listing = {"name": f"Siftwell ({a.arch})", "version": a.version, "npp-plugins": [entry]}
    (a.out / f"{name}.json").write_text(json.dumps(listing, indent=4) + "\n", encoding="utf-8")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
