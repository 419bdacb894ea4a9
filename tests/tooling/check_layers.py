#!/usr/bin/env python3
"""Keeps the layers of src/ in order: a file includes only from its own layer
and from the layers it stands on.

  text    (nothing: portable text rules)
  engine  text
  win     text
  npp     win, text
  app     npp, win, engine, text

Usage: check_layers.py SRC_DIR          exits 1 and names each include that breaks the order
       check_layers.py --self-test SRC_DIR
                                        also proves, on a copy, that a planted upward
                                        include and a sideways one are caught
"""
import re
import shutil
import sys
import tempfile
from pathlib import Path

ALLOWED = {
    "text": {"text"},
    "engine": {"engine", "text"},
    "win": {"win", "text"},
    "npp": {"npp", "win", "text"},
    "app": {"app", "npp", "win", "engine", "text"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)


def violations(src: Path):
    found = []
    for layer in ALLOWED:
        for path in sorted((src / layer).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            for m in INCLUDE.finditer(path.read_text(encoding="utf-8")):
                target = m.group(1)
                if target in ALLOWED and target not in ALLOWED[layer]:
                    line = path.read_text(encoding="utf-8")[: m.start()].count("\n") + 1
                    found.append(f"{path.relative_to(src)}:{line}: {layer}/ may not include {target}/")
    missing = [layer for layer in ALLOWED if not (src / layer).is_dir()]
    found += [f"no folder {layer}/" for layer in missing]
    return found


def self_test(src: Path) -> list:
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        copy = Path(tmp) / "src"
        shutil.copytree(src, copy, ignore=shutil.ignore_patterns("*.png", "*.ico", "*.bmp"))
        for victim, planted in (("npp/Win32.cpp", "app/Main.h"),          # up a layer
                                ("engine/PatternFilter.cpp", "win/Worker.h"),  # across to a sibling
                                ("win/Worker.cpp", "npp/Tables.h"),        # up from the platform
                                ("text/Utf8.h", "engine/PatternFilter.h")):     # up from the bottom
            path = copy / victim
            original = path.read_text(encoding="utf-8")
            path.write_text(f'#include "{planted}"\n' + original, encoding="utf-8")
            if not any(v.startswith(victim) for v in violations(copy)):
                problems.append(f"a planted include of {planted} in {victim} went unnoticed")
            path.write_text(original, encoding="utf-8")
    return problems


def main(argv):
    selftest = "--self-test" in argv
    args = [a for a in argv[1:] if a != "--self-test"]
    src = Path(args[0] if args else Path(__file__).resolve().parents[2] / "src")
    problems = violations(src)
    if selftest and not problems:
        problems = self_test(src)
    for p in problems:
        print(p, file=sys.stderr)
    if not problems:
        print(f"layers in order: {', '.join(ALLOWED)}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
