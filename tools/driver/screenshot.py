#!/usr/bin/env python3
"""A picture of the filter window at work in a real Notepad++ (or the host stand-in).

Installs the build's package into a fresh portable Notepad++ (from ../shared/notepad++ or
SIFTWELL_NPP_DIR), opens FILE, opens Siftwell with Ctrl+Shift+X, types the pattern, presses
"Keep Pattern", waits until the document holds the result and the screen has settled, and saves
the Notepad++ window with the filter window over its document as a PNG. With --standin the
build's host stand-in loads the build's DLL and does the same steps itself.

Fails (exit 1) when the host or the filter window does not come up or the document never
changes. Runs in $DISPLAY and the Wine prefix of cmake/wine-run.

    screenshot.py --build build/win64 --file sample.log --pattern '[\\w.]+@[\\w.]+' --out shot.png
"""

import argparse
import os
import shutil
import subprocess
import sys
import tarfile
import time
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from driver import ROOT, DriveError, Driver, Notepad, Rect, winpath  # noqa: E402


def install(work, npp_dir, package):
    arch = "x86_64" if package.stem.endswith("-x64") else "i686"
    tarball = sorted(npp_dir.glob(f"npp-v*-{arch}.tar.xz"))[-1]
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    with tarfile.open(tarball) as tar:
        tar.extractall(work)
    folder = next(p for p in work.iterdir() if p.is_dir() and p.name.startswith("npp-"))
    with zipfile.ZipFile(package) as z:
        z.extractall(folder / "plugins" / "Siftwell")
    return folder


def grab(rect, out="rgb:-", *extra):
    """A part of the X screen: raw pixels, or saved to a file."""
    geometry = f"{rect.right - rect.left}x{rect.bottom - rect.top}+{rect.left}+{rect.top}"
    return subprocess.run(["import", "-display", os.environ["DISPLAY"], "-window", "root", "-crop", geometry,
                           "+repage", *extra, str(out)], check=True, capture_output=True).stdout


def capture(d, windows, out):
    """Saves the union of `windows` once two grabs in a row agree (everything painted)."""
    rects = [d.rect(w) for w in windows]
    area = Rect(min(r.left for r in rects), min(r.top for r in rects),
                max(r.right for r in rects), max(r.bottom for r in rects))
    previous = None
    deadline = time.monotonic() + 15
    while True:
        time.sleep(0.3)
        pixels = grab(area)
        if pixels == previous or time.monotonic() > deadline:
            break
        previous = pixels
    out.parent.mkdir(parents=True, exist_ok=True)
    grab(area, out, "-strip")


def in_notepad(d, a, npp_dir, package):
    work = a.build / "screenshot-npp"
    folder = install(work, npp_dir, package)
    # The document lies on the prefix's drive C:, so the title shows a short, plain path.
    prefix = Path(os.environ.get("WINEPREFIX", ROOT / "build" / "wineprefix"))
    (prefix / "drive_c" / "Logs").mkdir(parents=True, exist_ok=True)
    shutil.copy(a.file, prefix / "drive_c" / "Logs" / a.file.name)
    document = "C:\\Logs\\" + a.file.name

    npp = Notepad.start(d, folder, [document], timeout=a.timeout)
    view = Driver.wait_until(lambda: npp.views(), a.timeout, "the editor view")[0].hwnd
    before = npp.text(view)
    d.click(view)
    d.keys("ctrl+shift+x")
    dlg = d.wait_window("frmMyDlg", timeout=a.timeout)
    # Over the right part of the document, clear of menu, toolbar and tabs.
    main, box = d.rect(npp.main), d.rect(dlg)
    d.move(dlg, main.right - (box.right - box.left) - 40, main.top + 150)
    kids = [k for k in d.children(dlg) if k.visible]
    pattern = min((k for k in kids if k.cls == "Edit"), key=lambda k: d.rect(k.hwnd).top).hwnd
    keep = next(k.hwnd for k in kids if k.cls == "Button" and k.text.replace("&", "") == "Keep Pattern")
    d.click(pattern)
    d.type(a.pattern)
    Driver.wait_until(lambda: d.text(pattern) == a.pattern, 10, "the pattern to be typed")
    d.click(keep)
    Driver.wait_until(lambda: npp.text(view) not in (before, b""), a.timeout, "the filtered document")
    d.click(pattern)  # the filter window active, caret after its pattern
    d.keys("end")
    capture(d, [npp.main, dlg], a.out)
    return f"Notepad++ with {package.name}"


def in_standin(d, a):
    work = a.build / "screenshot-standin"
    shutil.rmtree(work, ignore_errors=True)
    (work / "config").mkdir(parents=True)
    dll = a.build / "src" / "app" / "Siftwell.dll"
    d.start(a.build / "tools" / "host" / "siftwell-host.exe", "--config-dir", winpath(work / "config"),
            "--file", winpath(a.file), "--after-command", "Open Siftwell", "--type", a.pattern,
            "--type", "\\n", "--click", "Keep Pattern", winpath(dll))
    dlg = d.wait_window("frmMyDlg", timeout=a.timeout)
    host = Driver.wait_until(lambda: next((w.hwnd for w in d.windows() if w.visible and w.hwnd != dlg and any(
        k.cls == "Scintilla" for k in d.children(w.hwnd))), None), a.timeout, "the stand-in's window")
    original = a.file.read_bytes()
    views = sorted((k.hwnd for k in d.children(host) if k.cls == "Scintilla" and k.visible),
                   key=lambda v: d.rect(v).left)
    Driver.wait_until(lambda: d.view_text(views[0]) not in (original, b""), a.timeout, "the filtered document")
    capture(d, [host, dlg], a.out)
    return "the host stand-in with " + str(dll)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", required=True, type=Path)
    p.add_argument("--file", required=True, type=Path)
    p.add_argument("--pattern", required=True)
    p.add_argument("--out", required=True, type=Path)
    p.add_argument("--timeout", type=float, default=60.0)
    p.add_argument("--standin", action="store_true", help="in the build's host stand-in, not Notepad++")
    a = p.parse_args()

    npp_dir = Path(os.environ.get("SIFTWELL_NPP_DIR", ROOT.parent / "shared" / "notepad++"))
    package = next(iter(sorted((a.build / "package").glob("Siftwell-*.zip"))), None)
    if not a.standin and package is None:
        print(f"screenshot: no package in {a.build / 'package'}")
        return 1
    with Driver(a.build) as d:
        try:
            what = in_standin(d, a) if a.standin else in_notepad(d, a, npp_dir, package)
        except (DriveError, StopIteration, ValueError) as e:
            print(f"screenshot: {e or 'a control of the filter window is missing'}")
            return 1
        finally:
            try:
                d.kill()
            except DriveError:
                pass
    print(f"screenshot: {a.out} ({what})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
