#!/usr/bin/env python3
"""Checks the hardening of a built binary with the toolchain's own tools.

  check_binary.py pe  --objdump X --module Siftwell.dll --symbols Siftwell.dll.debug [--x64]
  check_binary.py elf --readelf X --binary siftwell
"""
import argparse
import re
import subprocess
import sys


def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


failures = []


def expect(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def check_pe(a):
    headers = run(a.objdump, "-p", a.module)
    m = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", headers, re.M)
    bits = int(m.group(1), 16) if m else 0
    expect(bits & 0x0040, "ASLR (DYNAMIC_BASE)")
    expect(bits & 0x0100, "DEP (NX_COMPAT)")
    if a.x64:
        expect(bits & 0x0020, "high-entropy ASLR (HIGH_ENTROPY_VA)")
    dlls = re.findall(r"DLL Name: (\S+)", headers)
    expect(dlls and not any(d.lower().startswith("lib") for d in dlls),
           "imports only system DLLs (no libssp/libgcc/libstdc++/libwinpthread): " + " ".join(dlls))

    sections = re.findall(r"^\s*\d+\s+(\S+)\s", run(a.objdump, "-h", a.module), re.M)
    expect(not any(s.startswith(".debug") for s in sections), "no .debug_* sections in the module")
    expect(".gnu_debuglink" in sections, "a debug link to the symbol file")
    symbols = [l for l in run(a.objdump, "-t", a.module).splitlines() if re.match(r"^\[\s*\d+\]", l)]
    expect(len(symbols) < 50, f"a small symbol table ({len(symbols)} entries)")

    kept = run(a.objdump, "-t", a.symbols)
    expect(re.search(r"__stack_chk_fail\b", kept) is not None, "stack protector compiled in (__stack_chk_fail)")
    expect(len(kept.splitlines()) > 1000, "the symbol file keeps the symbols")


def check_elf(a):
    dynamic = run(a.readelf, "-W", "-d", a.binary)
    expect(re.search(r"BIND_NOW|\(FLAGS_1\).*\bNOW\b", dynamic) is not None, "BIND_NOW (-z now)")
    expect("GNU_RELRO" in run(a.readelf, "-W", "-l", a.binary), "GNU_RELRO segment (-z relro)")
    imports = run(a.readelf, "-W", "--dyn-syms", a.binary)
    expect("__stack_chk_fail" in imports, "stack protector (__stack_chk_fail)")
    fortified = sorted(set(re.findall(r"\b(__\w+_chk)\b", imports)) - {"__stack_chk_fail"})
    expect(bool(fortified), "fortified libc calls (_FORTIFY_SOURCE): " + " ".join(fortified))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("kind", choices=["pe", "elf"])
    p.add_argument("--objdump")
    p.add_argument("--readelf")
    p.add_argument("--module")
    p.add_argument("--symbols")
    p.add_argument("--binary")
    p.add_argument("--x64", action="store_true")
    a = p.parse_args()
    check_pe(a) if a.kind == "pe" else check_elf(a)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
