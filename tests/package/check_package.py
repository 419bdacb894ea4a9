#!/usr/bin/env python3
"""Checks a package the way the host's plugin-list validator does, plus reproducibility marks.

Usage: check_package.py DIR ARCH     (DIR holds Siftwell-<version>-<ARCH>.zip, .zip.sha256, .json)

- the list entry: the list's JSON shape, every required key, the values' forms; the Notepad++
  versions it claims start at the oldest one tested;
- the zip: SHA-256 equal to the entry's id and to the .sha256 file; <folder-name>.dll at its
  root (what Plugins Admin loads after unpacking into plugins\\<folder-name>\\);
- the DLL: a PE for ARCH whose version resource (fixed and string FileVersion) equals the
  listed version;
- reproducible bytes: no link time in the PE headers, fixed entry times in the zip.
"""

import hashlib
import io
import json
import re
import struct
import sys
import zipfile
from pathlib import Path

REQUIRED = ("folder-name", "display-name", "version", "id", "repository", "description", "author", "homepage")
MACHINES = {"x86": 0x014C, "x64": 0x8664}
RT_VERSION = 16
# The oldest Notepad++ the real-host suite runs the plugin in: the entry claims no older one.
OLDEST_TESTED_NPP = "8.3.3"


class Invalid(Exception):
    pass


def expect(condition, why):
    if not condition:
        raise Invalid(why)


# ---------------------------------------------------------------- PE reading

class Pe:
    def __init__(self, data):
        self.data = data
        expect(data[:2] == b"MZ", "the DLL is not a PE file")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        expect(data[pe:pe + 4] == b"PE\0\0", "the DLL has no PE header")
        self.machine, sections, self.timestamp = struct.unpack_from("<HHI", data, pe + 4)
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        directories = opt + (96 if magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            _, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, opt + optional_size + 40 * i)
            self.sections.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise Invalid(f"address {rva:#x} lies in no section")

    def export_timestamp(self):
        rva, size = self.dirs[0]
        return struct.unpack_from("<I", self.data, self.offset(rva) + 4)[0] if size else 0

    def resource(self, type_id):
        """Bytes of the first resource of a type (first name, first language)."""
        rva, size = self.dirs[2]
        expect(size > 0, "the DLL has no resources")
        base = self.offset(rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            return [struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i) for i in range(named + ids)]

        level = [e for e in entries(0) if e[0] == type_id]
        expect(level, f"the DLL has no resource of type {type_id}")
        target = level[0][1]
        while target & 0x80000000:  # a subdirectory: take its first entry
            target = entries(target & 0x7FFFFFFF)[0][1]
        data_rva, data_size = struct.unpack_from("<II", self.data, base + target)
        start = self.offset(data_rva)
        return self.data[start:start + data_size]


def version_info(block):
    """(fixed FileVersion, {string name: value}) of a VS_VERSIONINFO resource."""
    align = lambda n: (n + 3) & ~3

    def parse(offset):
        length, value_length, kind = struct.unpack_from("<HHH", block, offset)
        end = offset + 6
        while block[end:end + 2] != b"\0\0":
            end += 2
        key = block[offset + 6:end].decode("utf-16-le")
        value_at = align(end + 2)
        value_size = value_length * 2 if kind == 1 else value_length
        value = block[value_at:value_at + value_size]
        children, at = [], align(value_at + value_size)
        while at < offset + length:
            child = parse(at)
            children.append(child)
            at = align(at + child[3])
        return key, kind, value, length, children

    key, _, fixed, _, children = parse(0)
    expect(key == "VS_VERSION_INFO", "the version resource is malformed")
    signature, _, ms, ls = struct.unpack_from("<IIII", fixed, 0)
    expect(signature == 0xFEEF04BD, "the version resource has no fixed file information")
    numbers = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    strings = {}
    for name, _, _, _, tables in children:
        if name == "StringFileInfo":
            for _, _, _, _, entries in tables:
                for entry_key, _, value, _, _ in entries:
                    strings[entry_key] = value.decode("utf-16-le").rstrip("\0")
    return numbers, strings


# ---------------------------------------------------------------- the rules

def check(folder, arch):
    listings = sorted(folder.glob(f"Siftwell-*-{arch}.json"))
    expect(len(listings) == 1, f"expected one plugin-list entry for {arch} in {folder}")
    listing = json.loads(listings[0].read_text(encoding="utf-8"))
    expect(set(listing) == {"name", "version", "npp-plugins"}, f"the list has keys {sorted(listing)}")
    plugins = listing["npp-plugins"]
    expect(isinstance(plugins, list) and len(plugins) == 1, "the list must hold exactly one plugin")
    entry = plugins[0]
    for key in REQUIRED:
        expect(isinstance(entry.get(key), str) and entry[key].strip(), f"the entry lacks \"{key}\"")
    extra = set(entry) - set(REQUIRED) - {"npp-compatible-versions", "old-versions-compatibility"}
    expect(not extra, f"the entry has unknown keys {sorted(extra)}")
    version = entry["version"]
    expect(re.fullmatch(r"\d+(\.\d+){0,3}", version), f"version {version!r} is not numbers joined by dots")
    expect(re.fullmatch(r"[0-9a-f]{64}", entry["id"]), "the id is not a SHA-256 in lower-case hex")
    expect(re.fullmatch(r"https://\S+\.zip", entry["repository"]), "the repository is not an https URL of a zip")
    expect(re.fullmatch(r"https://\S+", entry["homepage"]), "the homepage is not an https URL")
    expect("npp-compatible-versions" in entry, "the entry does not say which Notepad++ versions it works in")
    claimed = re.fullmatch(r"\[(\d+(?:\.\d+)*)?,(\d+(?:\.\d+)*)?\]", entry["npp-compatible-versions"])
    expect(claimed, "npp-compatible-versions is not of the form [min,max]")
    expect(claimed.group(1) == OLDEST_TESTED_NPP,
           f"npp-compatible-versions starts at {claimed.group(1)}, the oldest Notepad++ tested is {OLDEST_TESTED_NPP}")

    name = entry["repository"].rsplit("/", 1)[1]  # what the validator would download
    zip_path = folder / name
    expect(zip_path.is_file(), f"no {name} beside the entry")
    data = zip_path.read_bytes()
    digest = hashlib.sha256(data).hexdigest()
    expect(digest == entry["id"], "the zip's SHA-256 is not the entry's id")
    sums = (folder / f"{name}.sha256").read_text(encoding="ascii").split()
    expect(sums == [digest, name], "the .sha256 file does not match the zip")

    dll_name = f"{entry['folder-name']}.dll"
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        names = z.namelist()
        expect(dll_name in names, f"the zip has no {dll_name} at its root (it holds {names})")
        for info in z.infolist():
            expect(not info.filename.startswith(("/", "\\")) and ".." not in Path(info.filename).parts,
                   f"unsafe path {info.filename!r} in the zip")
            expect(info.date_time == (1980, 1, 1, 0, 0, 0), f"{info.filename} carries a build time")
        pe = Pe(z.read(dll_name))

    expect(pe.machine == MACHINES[arch], f"the DLL is for machine {pe.machine:#x}, not {arch}")
    expect(pe.timestamp == 0 and pe.export_timestamp() == 0, "the DLL's headers carry the link time")
    fixed, strings = version_info(pe.resource(RT_VERSION))
    expect(fixed == version, f"the DLL's FileVersion is {fixed}, the list says {version}")
    expect(strings.get("FileVersion") == version,
           f"the DLL's FileVersion string is {strings.get('FileVersion')!r}, the list says {version}")
    return f"{name}: {dll_name} {version} at the root, id {digest[:12]}..."


def main(argv):
    if len(argv) != 3 or argv[2] not in MACHINES:
        print(__doc__)
        return 2
    try:
        print("ok:", check(Path(argv[1]), argv[2]))
        return 0
    except (Invalid, OSError, ValueError, KeyError, struct.error, zipfile.BadZipFile) as e:
        print(f"invalid package: {e}")
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
