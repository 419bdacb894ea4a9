#!/usr/bin/env python3
"""The package check accepts the build's package and rejects the faults it exists to catch.

Usage: check_package_test.py DIR ARCH   (the build's package folder, as for check_package.py)
"""

import hashlib
import json
import shutil
import struct
import sys
import tempfile
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import check_package  # noqa: E402


def rezip(path, entries, date_time=(1980, 1, 1, 0, 0, 0)):
    with zipfile.ZipFile(path, "w") as z:
        for name, data in entries:
            z.writestr(zipfile.ZipInfo(name, date_time=date_time), data)


def reseal(folder, arch):
    """Entry id and .sha256 made to match the zip again, so only the planted fault remains."""
    entry_path = next(folder.glob(f"*-{arch}.json"))
    listing = json.loads(entry_path.read_text())
    zip_path = next(folder.glob(f"*-{arch}.zip"))
    digest = hashlib.sha256(zip_path.read_bytes()).hexdigest()
    listing["npp-plugins"][0]["id"] = digest
    entry_path.write_text(json.dumps(listing))
    (folder / f"{zip_path.name}.sha256").write_text(f"{digest}  {zip_path.name}\n")


def main(argv):
    source, arch = Path(argv[1]), argv[2]
    print("accepts the build's package:", check_package.check(source, arch))
    with zipfile.ZipFile(next(source.glob(f"*-{arch}.zip"))) as z:
        dll = z.read("Siftwell.dll")

    def nested(folder, zip_path):      # the old layout: plugins\Siftwell\Siftwell\Siftwell.dll
        rezip(zip_path, [("Siftwell/Siftwell.dll", dll)])
        reseal(folder, arch)

    def stamped(folder, zip_path):     # a link time in the PE header
        pe = struct.unpack_from("<I", dll, 0x3C)[0]
        rezip(zip_path, [("Siftwell.dll", dll[:pe + 8] + b"\x01\x02\x03\x04" + dll[pe + 12:])])
        reseal(folder, arch)

    def listed(key, value):            # the entry says something else of the package
        def fault(folder, zip_path):
            entry = next(folder.glob(f"*-{arch}.json"))
            listing = json.loads(entry.read_text())
            listing["npp-plugins"][0][key] = value
            entry.write_text(json.dumps(listing))
            reseal(folder, arch)
        fault.__name__ = f"{key} {value}"
        return fault

    def changed_zip(folder, zip_path):  # the id no longer names these bytes
        zip_path.write_bytes(zip_path.read_bytes() + b"\0")

    def dated(folder, zip_path):
        rezip(zip_path, [("Siftwell.dll", dll)], date_time=(2026, 12, 7, 10, 0, 0))
        reseal(folder, arch)

    failures = 0
    # Another version than the DLL's; a Notepad++ older than any the suite runs.
    faults = (nested, stamped, listed("version", "1.0.0.1"), listed("npp-compatible-versions", "[8.3,]"),
              changed_zip, dated)
    for fault in faults:
        with tempfile.TemporaryDirectory() as tmp:
            folder = Path(tmp)
            for f in source.iterdir():
                if f.is_file():
                    shutil.copy(f, folder / f.name)
            fault(folder, next(folder.glob(f"*-{arch}.zip")))
            try:
                check_package.check(folder, arch)
                print(f"FAIL {fault.__name__}: accepted")
                failures += 1
            except check_package.Invalid as e:
                print(f"rejects {fault.__name__}: {e}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
