#!/usr/bin/env python3
"""Siftwell against Notepad++'s own Replace All, inside a real Notepad++ under Wine.

For each document size: a generated log (the corpus of bench/compare.py, CR LF, UTF-8 with a
BOM) is opened in a fresh Notepad++ process with the build's package installed; once it is
loaded, the editor's peak-memory mark is reset and one operation runs:

  keep        Siftwell "Keep Pattern"            (the filter window, Ctrl+Shift+X)
  remove      Siftwell "Everything BUT pattern"
  keep-lines, remove-lines   the same with "Whole lines" ticked (the lines that hold a match)
  replaceall  Notepad++ Search > Replace, regular expression, empty replacement, "Replace All"

Time: from the click to the document holding its new length (the driver asks the editor for
its length; it answers between messages only, so a new length is the finished document).
Memory: the editor process's peak resident set (VmHWM) during the operation, from /proc.
Runs alternate between the methods (and between the builds, when --build names several); the
best of --rounds counts. The editor's stalls: the longest time the driver waited for an answer to
its length question before the document changed (the copy and the matching), and the last wait
(the write of the result, on the UI thread). --perf records each operation with `perf record`
(the editor's threads; the plugin's symbols are in the build's symbols/ folder, at the DLL's image
base): `perf script -G -F tid,time,ip,sym,dso` shows which thread was busy when.

    bench/realhost/host_bench.py --build build/win64 --sizes 10 100 --rounds 2
    bench/realhost/host_bench.py --build build/win64 ../base/build/win64 --sizes 100 --methods remove \
        --pattern 'id=\d+'

Needs ../shared/notepad++ (or SIFTWELL_NPP_DIR), an X display and the build's package and driver.
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import tarfile
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools" / "driver"))
sys.path.insert(0, str(ROOT / "bench"))
from compare import make_corpus  # noqa: E402
from driver import Driver, DriveError, Notepad, winpath  # noqa: E402,F401 (DriveError: for typing_bench)

PATTERN = r"[\w.+-]+@[\w-]+\.[\w.-]+"   # e-mail addresses, in about 10 % of the lines
METHODS = ("keep", "remove", "replaceall", "keep-lines", "remove-lines")
BM_GETCHECK = 0x00F0
BOM = b"\xef\xbb\xbf"


def unix_pid(exe_winpath):
    """The Linux process of a Wine program, found by its command line."""
    key = exe_winpath.encode()
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                if (entry / "cmdline").read_bytes().startswith(key):
                    return int(entry.name)
            except OSError:
                pass
    return None


def status_kb(pid, field):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1])
    return 0


def set_field(d, field, text):
    d.click(field)
    d.keys("end", "shift+home", "delete")
    if text:
        d.type(text)
    Driver.wait_until(lambda: d.text(field) == text, 10, f"the field to show {text!r}")


def run_once(d, folder, corpus, doc_length, method, timeout, pattern=PATTERN, profile=None):
    exe = folder / "notepad++.exe"
    npp = Notepad.start(d, folder, [corpus], timeout=120)
    try:
        view = Driver.wait_until(lambda: npp.views(), 60, "the editor view")[0].hwnd
        Driver.wait_until(lambda: d.send(view, npp.n["SCI_GETLENGTH"]) == doc_length, 300, "the document to load")
        pid = unix_pid(winpath(exe))
        d.click(view)
        if method == "replaceall":
            d.keys("ctrl+h")
            dlg = d.wait_window("#32770", "Replace")
            kids = {k.text.replace("&", ""): k for k in d.children(dlg) if k.visible}
            combos = sorted((k for k in d.children(dlg) if k.cls == "Edit" and k.visible),
                            key=lambda k: d.rect(k.hwnd).top)
            set_field(d, combos[0].hwnd, pattern)
            set_field(d, combos[1].hwnd, "")
            d.click(kids["Regular expression"].hwnd)
            for box in ("In selection", ". matches newline", "Match whole word only"):
                if d.send(kids[box].hwnd, 0x00F0) == 1:  # BM_GETCHECK: as the engine's defaults
                    d.click(kids[box].hwnd)
            button = kids["Replace All"].hwnd
        else:
            d.keys("ctrl+shift+x")
            dlg = d.wait_window("frmMyDlg")
            kids = [k for k in d.children(dlg) if k.visible]
            field = min((k for k in kids if k.cls == "Edit"), key=lambda k: d.rect(k.hwnd).top).hwnd
            set_field(d, field, pattern)
            lines = next((k.hwnd for k in kids if k.cls == "Button" and k.text.replace("&", "") == "Whole lines"),
                         None)  # (builds before it had none)
            if lines and d.send(lines, BM_GETCHECK) != method.endswith("-lines"):  # kept from the last run
                d.click(lines)
            caption = "Keep Pattern" if method.startswith("keep") else "Everything BUT pattern"
            button = next(k.hwnd for k in kids if k.cls == "Button" and k.text.replace("&", "") == caption)
        time.sleep(0.5)  # let the editor settle before the mark is reset
        if pid:
            Path(f"/proc/{pid}/clear_refs").write_text("5")  # resets VmHWM to the current resident set
        before_kb = status_kb(pid, "VmRSS") if pid else 0
        perf = None
        if profile and pid:  # the editor's threads, sampled from just before the click to the new length
            perf = subprocess.Popen(["perf", "record", "-F", "4000", "-g", "-p", str(pid), "-o", str(profile)],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.5)
        try:
            ms, length, longest, last = d.timed_click_waits(button, view, timeout)
            said = ""
        except DriveError:  # the document did not change: what the window says instead
            ms, length, longest, last = int(timeout * 1000), -1, 0, 0
            said = " / ".join(t for t in (d.text(k.hwnd) for k in d.children(dlg)
                                          if k.cls == "Static" and k.visible) if len(t) > 20)
        peak_kb = status_kb(pid, "VmHWM") if pid else d.memory()["peak_working_set"] // 1024
        if perf:
            perf.send_signal(signal.SIGINT)
            perf.wait()
        return ms, length, before_kb, peak_kb, longest, last, said
    finally:
        d.kill()


def prepare_host(build):
    """A portable Notepad++ of the build's architecture with the build's package installed:
    (arch, work folder, Notepad++ folder)."""
    npp_dir = Path(os.environ.get("SIFTWELL_NPP_DIR", ROOT.parent / "shared" / "notepad++"))
    package = sorted((build / "package").glob("Siftwell-*.zip"))[-1]
    arch = "x64" if package.stem.endswith("-x64") else "x86"
    machine = "x86_64" if arch == "x64" else "i686"
    work = build.resolve() / "bench-host"
    work.mkdir(parents=True, exist_ok=True)
    folder = work / "npp"
    if not folder.exists():
        with tarfile.open(sorted(npp_dir.glob(f"npp-v*-{machine}.tar.xz"))[-1]) as tar:
            tar.extractall(work)
        next(q for q in work.iterdir() if q.name.startswith("npp-v")).rename(folder)
    with zipfile.ZipFile(package) as z:
        z.extractall(folder / "plugins" / "Siftwell")
    return arch, work, folder


def corpus_of(work, size):
    """The generated log of `size` MB (CR LF, UTF-8 with a BOM), made once."""
    corpus = work / f"corpus-{size}mb.txt"
    if not corpus.exists():
        make_corpus(str(corpus) + ".raw", size * 1024 * 1024, crlf=True)
        corpus.write_bytes(BOM + Path(str(corpus) + ".raw").read_bytes())
        os.remove(str(corpus) + ".raw")
    return corpus


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", required=True, type=Path, nargs="+", help="one or more builds, alternating")
    p.add_argument("--sizes", type=int, nargs="+", default=[10, 100], help="document sizes, MB")
    p.add_argument("--rounds", type=int, default=2)
    p.add_argument("--timeout", type=float, default=900)
    p.add_argument("--methods", nargs="+", choices=METHODS, default=list(METHODS))
    p.add_argument("--pattern", default=PATTERN, help="the pattern (default: e-mail addresses)")
    p.add_argument("--cli", type=Path, default=ROOT / "build" / "linux" / "tools" / "siftwell" / "siftwell",
                   help="the native CLI, which gives the expected length of the whole-line results")
    p.add_argument("--perf", type=Path, metavar="DIR",
                   help="record each run with perf (4 kHz, call graphs) into DIR/<MB>mb-<method>-<build#>-<round>.data")
    a = p.parse_args()
    if a.perf:
        a.perf.mkdir(parents=True, exist_ok=True)
    hosts = [(build,) + prepare_host(build) for build in a.build]

    print(f"pattern: {a.pattern}")
    print(f"| build | arch | doc MB | method | best ms | all ms | result bytes | peak RSS MB | peak − before MB "
          f"| longest wait ms | write wait ms |")
    print(f"|---|---|---|---|---|---|---|---|---|---|---|")
    with Driver(a.build[0]) as d:
        for size in a.sizes:
            corpus = corpus_of(hosts[0][2], size)
            data = corpus.read_bytes()[len(BOM):]
            matched = found = 0
            compiled = re.compile(a.pattern)
            start = 0
            while start < len(data):  # in pieces of whole lines (no match spans a line end)
                end = data.find(b"\n", start + (16 << 20))
                end = len(data) if end < 0 else end + 1
                for m in compiled.finditer(data[start:end].decode("utf-8")):
                    if m.end() > m.start():
                        matched += len(m.group().encode())
                        found += 1
                start = end
            expected = {"keep": matched + 2 * found, "remove": len(data) - matched}
            expected["replaceall"] = expected["remove"]
            if any(m.endswith("-lines") for m in a.methods):
                plain = hosts[0][2] / f"corpus-{size}mb.nobom.txt"
                plain.write_bytes(data)
                for op in ("keep", "remove"):
                    with open(str(plain) + ".out", "wb") as out:
                        subprocess.run([str(a.cli), op, "--lines", a.pattern, str(plain)], check=True, stdout=out)
                    expected[f"{op}-lines"] = os.path.getsize(str(plain) + ".out")
                    os.remove(str(plain) + ".out")
                plain.unlink()
            doc_length = len(data)
            del data
            results = {(h[0], m): [] for h in hosts for m in a.methods}
            for n in range(a.rounds):
                for method in a.methods:
                    for k, (build, arch, work, folder) in enumerate(hosts):
                        profile = a.perf / f"{size}mb-{method}-{k}-{n}.data" if a.perf else None
                        results[(build, method)].append(
                            run_once(d, folder, corpus, doc_length, method, a.timeout, a.pattern, profile))
            for method in a.methods:
                for build, arch, work, folder in hosts:
                    runs = results[(build, method)]
                    best = min(runs)
                    note = "" if best[1] == expected[method] else f" (expected {expected[method]})"
                    note += "".join(f" — said: {r[6]}" for r in runs if r[6])
                    print(f"| {build} | {arch} | {size} | {method} | {best[0]} | {', '.join(str(r[0]) for r in runs)} | "
                          f"{best[1]}{note} | {max(r[3] for r in runs) / 1024:.0f} | "
                          f"{max(r[3] - r[2] for r in runs) / 1024:.0f} | {max(r[4] for r in runs)} | "
                          f"{max(r[5] for r in runs)} |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
