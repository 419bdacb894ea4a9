#!/usr/bin/env python3
"""Typing into the filter window while live counts run over a large document, in a real Notepad++.

For each document size: the generated log of bench/compare.py is opened in a fresh Notepad++ with
the build's package installed, the filter window is opened and PATTERN is typed into its pattern
field one key at a time, 50-350 ms apart, so that keys land while the count of the pattern typed
so far starts or runs (and stops it). Measured: for every key, the time until the field shows it;
after the last key, the time until the window shows the count, which must be the count Python's
`re` finds. With Highlight on (its default, in a Notepad++ that hands out indicators) every key
must show within 100 ms; after the last key: the time until the matches on screen are marked, and
then, for ten scrolls of a page each, the time from the scroll until the matches of the new page
are marked (the marks follow what the view shows; the rest of the document is never searched).

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


def marked(d, npp, view, at, indicator=None):
    """The indicators set at document position `at` (a bit mask), or whether `indicator` is."""
    mask = d.send(view, npp.n["SCI_INDICATORALLONFOR"], at)
    return mask if indicator is None else bool(mask >> indicator & 1)


def first_shown_match(d, npp, view, text):
    """The document position of the first match of PATTERN on the lines the view shows."""
    line = d.send(view, npp.n["SCI_GETFIRSTVISIBLELINE"])
    start = d.send(view, npp.n["SCI_POSITIONFROMLINE"], line)
    m = re.compile(PATTERN.encode()).search(text, start)
    return m.start() if m else None


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
        counted = (keys, time.monotonic() - started, status() == want, status())
        # The marks: the plugin's indicator is the one set at the first match shown, not before it.
        text = corpus.read_bytes()[3:]
        at = first_shown_match(d, npp, view, text)
        started = time.monotonic()
        try:
            Driver.wait_until(lambda: marked(d, npp, view, at) & ~marked(d, npp, view, max(0, at - 1)), 10, "")
        except DriveError:
            return counted + (None, [])
        mark_after = time.monotonic() - started
        bits = marked(d, npp, view, at) & ~marked(d, npp, view, max(0, at - 1))
        indicator = bits.bit_length() - 1
        follows = []
        for _ in range(10):
            started = time.monotonic()
            d.send(view, npp.n["SCI_LINESCROLL"], 0, d.send(view, npp.n["SCI_LINESONSCREEN"]))
            at = first_shown_match(d, npp, view, text)
            Driver.wait_until(lambda: marked(d, npp, view, at, indicator), 10, "the new page marked")
            follows.append((time.monotonic() - started) * 1000)
        return counted + (mark_after, follows)
    finally:
        d.kill()


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", required=True, type=Path)
    p.add_argument("--sizes", type=int, nargs="+", default=[10, 100], help="document sizes, MB")
    p.add_argument("--highlight", choices=("on", "off"), default="on", help="the window's Highlight option")
    p.add_argument("--rounds", type=int, default=1, help="runs per size")
    a = p.parse_args()
    arch, work, folder = prepare_host(a.build)
    ini = folder / "plugins" / "Config" / "Siftwell.ini"
    ini.parent.mkdir(parents=True, exist_ok=True)
    ini.write_text(f"[Options]\r\nHighlight={1 if a.highlight == 'on' else 0}\r\n", encoding="ascii")
    print("| arch | doc MB | keys | key to field, median ms | key to field, max ms | count shown after the last key, s | count "
          f"| marks shown after the last key, s (Highlight {a.highlight}) | marks follow a page scroll, median / max ms |")
    print("|---|---|---|---|---|---|---|---|---|")
    slow = 0
    with Driver(a.build) as d:
        for size in [s for s in a.sizes for _ in range(a.rounds)]:
            corpus = corpus_of(work, size)
            expected = len(re.findall(PATTERN, corpus.read_bytes().decode("utf-8-sig")))
            keys, shown, right, said, mark_after, follows = run(d, folder, corpus, expected)
            marks = "none" if mark_after is None else f"{mark_after:.1f}"
            follow = f"{statistics.median(follows):.0f} / {max(follows):.0f}" if follows else "-"
            print(f"| {arch} | {size} | {len(keys)} | {statistics.median(keys):.0f} | {max(keys):.0f} | {shown:.1f} | "
                  f"{said}{'' if right else f' (expected {described(expected)})'} | {marks} | {follow} |", flush=True)
            slow += a.highlight == "on" and max(keys) >= 100
    if slow:
        print(f"{slow} size(s) had a key take 100 ms or more to show", file=sys.stderr)
    return 1 if slow else 0


if __name__ == "__main__":
    sys.exit(main())
