#!/usr/bin/env python3
"""Every test of a Windows build that runs under the emulator (Wine) runs a Windows program.

Wine starts a Linux program too, but drops its exit status: a Python test registered through
an executable target (Python3::Interpreter) gets the emulator put in front and then passes
whatever it finds. Usage: check_test_commands.py BUILD_DIR EMULATOR
"""

import re
import sys
from pathlib import Path


def main(argv):
    build, emulator = Path(argv[1]), argv[2]
    wrong = []
    for testfile in build.rglob("CTestTestfile.cmake"):
        for name, args in re.findall(r'add_test\(\[=\[(.*?)\]=\] (.*)\)\s*$', testfile.read_text(), re.M):
            words = re.findall(r'"((?:[^"\\]|\\.)*)"', args)
            if len(words) >= 2 and words[0] == emulator and not words[1].lower().endswith(".exe"):
                wrong.append(f"{name}: {words[1]}")
    for w in wrong:
        print(f"runs a Linux program under Wine (its exit status is lost): {w}")
    print(f"{len(wrong)} test(s) with a Linux program under the emulator")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
