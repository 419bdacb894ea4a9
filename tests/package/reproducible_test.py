#!/usr/bin/env python3
"""Two builds of one commit give the same package bytes.

Usage: reproducible_test.py BUILD TOOLCHAIN [-DNAME=VALUE ...]

Configures a second build tree beside BUILD (BUILD/../<name>-again) with the same toolchain and
settings, builds the package there from scratch (no compiler cache), and compares every file of
its package folder with BUILD/package byte for byte.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def main(argv):
    if len(argv) < 3:
        print(__doc__)
        return 2
    build, toolchain, settings = Path(argv[1]).resolve(), argv[2], argv[3:]
    again = build.parent / f"{build.name}-again"
    shutil.rmtree(again, ignore_errors=True)
    env = dict(os.environ, CCACHE_DISABLE="1")
    env.pop("CMAKE_C_COMPILER_LAUNCHER", None)
    env.pop("CMAKE_CXX_COMPILER_LAUNCHER", None)
    run = lambda *cmd: subprocess.run(cmd, env=env, check=True, stdout=subprocess.DEVNULL)
    run("cmake", "-S", str(ROOT), "-B", str(again), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
        f"--toolchain={toolchain}", *settings)
    run("cmake", "--build", str(again), "--target", "siftwell_package", "-j2")

    ours, theirs = build / "package", again / "package"
    names = sorted(p.name for p in ours.iterdir())
    failed = 0
    if names != sorted(p.name for p in theirs.iterdir()):
        print(f"the packages differ in their files: {names} / {sorted(p.name for p in theirs.iterdir())}")
        failed = 1
    for name in names:
        a, b = (ours / name).read_bytes(), (theirs / name).read_bytes() if (theirs / name).exists() else b""
        if a == b:
            print(f"same bytes: {name} ({len(a)} bytes)")
        else:
            print(f"DIFFERENT: {name}, first at byte {first_difference(a, b)}")
            failed = 1
    if not failed:
        shutil.rmtree(again, ignore_errors=True)
    return failed


if __name__ == "__main__":
    sys.exit(main(sys.argv))
