#!/usr/bin/env python3
"""Typing into the filter window while live counts run over a large document, in a real Notepad++.

For each document size: the generated log of bench/compare.py is opened in a fresh Notepad++ with
the build's package installed, the filter window is opened and PATTERN is typed into its pattern
field one key at a time, 50-350 ms apart, so that keys land while the count of the pattern typed
so far starts or runs (and stops it). Measured: for every key, the time until the field shows it;
after the last key, the time until the window shows the count, which must be the count Python's
`re` finds.

    bench/realhost/typing_bench.py --build build/win64 --sizes 10 100

Needs ../shared/notepad++ (or SIFTWELL_NPP_DIR), an X display and the build's package and driver.
"""

import argparse
import re
import statistics
import sys
import time
from pathlib import Path

from host_bench import Driver, DriveError, Notepad, corpus_of, prepare_host, set_field

PATTERN = r"user=\w+"
GAPS = (0.05, 0.31, 0.12, 0.33, 0.2, 0.35)  # seconds between keys, in turn


def described(count):
    return "no match" if count == 0 else "1 match" if count == 1 else f"{count:,} matches".replace(",", "\u00a0")


def run(d, folder, corpus, expected):
    npp = Notepad.start(d, folder, [corpus], timeout=120)
    try:
        view = Driver.wait_until(lambda: npp.views(), 60, "the editor view")[0].hwnd
        length = corpus.stat().st_size - 3  # (the BOM is not part of the document)
        Driver.wait_until(lambda: d.send(view, npp.n["SCI_GETLENGTH"]) == length, 300, "the document to load")
        d.click(view)
        d.keys("ctrl+shift+x")
        dlg = d.wait_window("frmMyDlg")
        field = min((k for k in d.children(dlg) if k.cls == "Edit" and k.visible), key=lambda k: d.rect(k.hwnd).top)
        status = lambda: next((k.text for k in d.children(dlg) if k.cls == "Static" and k.id == 1007 and k.visible), "")
        set_field(d, field.hwnd, "")
        keys = []
        for i, ch in enumerate(PATTERN):
            before = d.text(field.hwnd)
            started = time.monotonic()
            d.type(ch)
            Driver.wait_until(lambda: d.text(field.hwnd) == before + ch, 30, "the key")
            keys.append((time.monotonic() - started) * 1000)
            time.sleep(GAPS[i % len(GAPS)])
        started = time.monotonic() - GAPS[(len(PATTERN) - 1) % len(GAPS)]
        want = described(expected)
        try:
            Driver.wait_until(lambda: status() == want, 600, "the count")
        except DriveError:
            pass
        return keys, time.monotonic() - started, status() == want, status()
    finally:
        d.kill()


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", required=True, type=Path)
    p.add_argument("--sizes", type=int, nargs="+", default=[10, 100], help="document sizes, MB")
    a = p.parse_args()
    arch, work, folder = prepare_host(a.build)
    print("| arch | doc MB | keys | key to field, median ms | key to field, max ms | count shown after the last key, s | count |")
    print("|---|---|---|---|---|---|---|")
    with Driver(a.build) as d:
        for size in a.sizes:
            corpus = corpus_of(work, size)
            expected = len(re.findall(PATTERN, corpus.read_bytes().decode("utf-8-sig")))
            keys, shown, right, said = run(d, folder, corpus, expected)
            print(f"| {arch} | {size} | {len(keys)} | {statistics.median(keys):.0f} | {max(keys):.0f} | {shown:.1f} | "
                  f"{said}{'' if right else f' (expected {described(expected)})'} |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
