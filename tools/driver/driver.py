"""Python side of siftwell-drive.exe: drive a real Notepad++ under Wine from outside.

    from driver import Driver, Notepad
    with Driver(build_dir) as d:                    # build_dir: build/win32 or build/win64
        npp = Notepad.start(d, npp_folder, files)   # a fresh portable copy, files to open
        npp.open_siftwell()                         # Ctrl+Shift+X
        ...
        d.screenshot("shot.png", d.rect(npp.main))

The driver runs in the Wine prefix of cmake/wine-run and the display of $DISPLAY.
Every wait is for a condition, with a timeout; a timeout raises DriveError.
"""

import os
import re
import select
import subprocess
import time
from collections import namedtuple
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

Window = namedtuple("Window", "hwnd parent cls id visible text")
TopLevel = namedtuple("TopLevel", "hwnd cls visible title")
Rect = namedtuple("Rect", "left top right bottom")


class DriveError(Exception):
    pass


def winpath(path):
    """A Linux path as Wine programs see it."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def _escape(field):
    if isinstance(field, int):
        field = str(field)
    data = field.encode("utf-8") if isinstance(field, str) else bytes(field)
    out = bytearray()
    for b in data:
        if b == 0x5C:
            out += b"\\\\"
        elif b == 0x09:
            out += b"\\t"
        elif b == 0x0A:
            out += b"\\n"
        elif b == 0x0D:
            out += b"\\r"
        elif b < 0x20 or b == 0x7F:
            out += b"\\x%02X" % b
        else:
            out.append(b)
    return bytes(out)


def _unescape(field):
    out = bytearray()
    i = 0
    while i < len(field):
        b = field[i]
        if b != 0x5C or i + 1 == len(field):
            out.append(b)
            i += 1
            continue
        n = field[i + 1]
        if n == ord("t"):
            out.append(9)
        elif n == ord("n"):
            out.append(10)
        elif n == ord("r"):
            out.append(13)
        elif n == ord("x"):
            out.append(int(field[i + 2:i + 4], 16))
            i += 2
        else:
            out.append(n)
        i += 2
    return bytes(out)


def load_tables(root=ROOT):
    """Every host and editor number by its published name, from data/*.tsv."""
    names = {}
    for table in ("nppmsg", "scimsg", "nppmenucmd", "resource", "nppmsg_newer"):
        lines = (root / "data" / f"{table}.tsv").read_text(encoding="utf-8").splitlines()[1:]
        for line in lines:
            cols = line.split("\t")
            names.setdefault(cols[0], int(cols[1]))
    return names


def _wine_log():
    """Where Wine's and the editor's own messages go: SIFTWELL_DRIVE_LOG names a file (with
    WINEDEBUG set, Wine's traces of the editor process land there too), else nowhere."""
    path = os.environ.get("SIFTWELL_DRIVE_LOG")
    return open(path, "ab") if path else subprocess.DEVNULL


class Driver:
    """One siftwell-drive.exe process and the one program it started."""

    def __init__(self, build_dir, timeout=30.0):
        self.exe = Path(build_dir) / "tools" / "driver" / "siftwell-drive.exe"
        if not self.exe.is_file():
            raise DriveError(f"no driver at {self.exe}")
        self.timeout = timeout
        self.proc = subprocess.Popen([str(ROOT / "cmake" / "wine-run"), str(self.exe)],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=_wine_log())
        self._buffer = b""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.close()
                self.proc.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()

    def _readline(self, timeout):
        deadline = time.monotonic() + timeout
        fd = self.proc.stdout.fileno()
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise DriveError("the driver did not answer in time")
            chunk = os.read(fd, 1 << 20)
            if not chunk:
                raise DriveError("the driver ended")
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line

    def call(self, *fields, timeout=None):
        """Runs one command; returns its result fields as bytes."""
        self.proc.stdin.write(b"\t".join(_escape(f) for f in fields) + b"\n")
        self.proc.stdin.flush()
        answer = [_unescape(f) for f in self._readline(timeout or self.timeout).split(b"\t")]
        if answer[0] == b"error":
            raise DriveError(f"{fields[0]}: {answer[1].decode('utf-8', 'replace')}")
        return answer[1:]

    def _text(self, *fields, **kw):
        return [f.decode("utf-8", "replace") for f in self.call(*fields, **kw)]

    # -- the program
    def start(self, exe, *args):
        return int(self.call("start", winpath(exe), *args)[0])

    def wait_window(self, cls, title="", timeout=20.0):
        ms = int(timeout * 1000)
        return int(self.call("wait-window", cls, title, ms, timeout=timeout + 15)[0], 16)

    def windows(self):
        f = self._text("windows")
        return [TopLevel(int(f[i], 16), f[i + 1], f[i + 2] == "1", f[i + 3]) for i in range(0, len(f), 4)]

    def find_window(self, cls, title=None):
        for w in self.windows():
            if w.visible and w.cls == cls and (title is None or w.title == title):
                return w.hwnd
        return None

    def children(self, hwnd):
        f = self._text("children", hex(hwnd))
        return [Window(int(f[i], 16), int(f[i + 1], 16), f[i + 2], int(f[i + 3]), f[i + 4] == "1", f[i + 5])
                for i in range(0, len(f), 6)]

    def text(self, hwnd):
        return self._text("text", hex(hwnd))[0]

    def rect(self, hwnd):
        return Rect(*map(int, self._text("rect", hex(hwnd))))

    def enabled(self, hwnd):
        return self._text("enabled", hex(hwnd))[0] == "1"

    def client_rect(self, hwnd):
        return Rect(*map(int, self._text("client-rect", hex(hwnd))))

    def exists(self, hwnd):
        return any(w.hwnd == hwnd for w in self.windows())

    # -- input
    def front(self, hwnd):
        self.call("front", hex(hwnd))

    def move(self, hwnd, x, y):
        self.call("move", hex(hwnd), x, y)

    def click(self, hwnd, x=None, y=None):
        self.call("click", hex(hwnd), *([] if x is None else [x, y]))

    def double_click(self, hwnd, x=None, y=None):
        self.call("double-click", hex(hwnd), *([] if x is None else [x, y]))

    def keys(self, *chords):
        self.call("keys", *chords)

    def type(self, text):
        self.call("type", text)

    # -- messages
    def send(self, hwnd, msg, wparam=0, lparam=0):
        """wparam/lparam: a number, or bytes that are copied into the program and passed by address."""
        block = lambda p: b"@" + p if isinstance(p, (bytes, bytearray)) else p
        return int(self.call("send", hex(hwnd), msg, block(wparam), block(lparam))[0])

    def post(self, hwnd, msg, wparam=0, lparam=0):
        self.call("post", hex(hwnd), msg, wparam, lparam)

    def send_out(self, hwnd, msg, wparam, size):
        result, data = self.call("send-out", hex(hwnd), msg, wparam, size)
        return int(result), data

    def view_text(self, hwnd):
        return self.call("view-text", hex(hwnd), timeout=120)[0]

    def timed_click(self, button, view, timeout):
        """Clicks `button`; (milliseconds until `view`'s length changed, the new length)."""
        return self.timed_click_waits(button, view, timeout)[:2]

    def timed_click_waits(self, button, view, timeout):
        """As timed_click, and the longest wait for the editor's answer before the change and the last one
        (the write), in milliseconds."""
        f = self.call("timed-click", hex(button), hex(view), int(timeout * 1000), timeout=timeout + 30)
        return tuple(int(x) for x in f)

    def memory(self):
        peak_ws, ws, peak_commit, commit = map(int, self._text("memory"))
        return {"peak_working_set": peak_ws, "working_set": ws, "peak_commit": peak_commit, "commit": commit}

    def wait_exit(self, timeout):
        try:
            return int(self.call("wait-exit", int(timeout * 1000), timeout=timeout + 15)[0])
        except DriveError:
            return None

    def processes(self):
        """(pid, parent pid, executable) of every process in the prefix."""
        f = self._text("processes")
        return [(int(f[i]), int(f[i + 1]), f[i + 2]) for i in range(0, len(f), 3)]

    def pid(self):
        return int(self.call("pid")[0])

    def kill(self):
        self.call("kill")

    # -- conditions and pictures
    @staticmethod
    def wait_until(condition, timeout, what):
        deadline = time.monotonic() + timeout
        while True:
            value = condition()
            if value:
                return value
            if time.monotonic() >= deadline:
                raise DriveError(f"timed out waiting for {what}")
            time.sleep(0.02)

    @staticmethod
    def screenshot(path, rect=None):
        """The X screen as the user sees it (ImageMagick), cropped to `rect`."""
        cmd = ["import", "-display", os.environ["DISPLAY"], "-window", "root"]
        if rect is not None:
            cmd += ["-crop", f"{rect.right - rect.left}x{rect.bottom - rect.top}+{rect.left}+{rect.top}", "+repage"]
        subprocess.run(cmd + [str(path)], check=True)


class Notepad:
    """A running Notepad++ under the driver, and the few of its commands the tests use."""

    def __init__(self, driver, folder, tables=None):
        self.d = driver
        self.folder = Path(folder)
        self.n = tables or load_tables()
        self.main = None

    @classmethod
    def start(cls, driver, folder, files=(), timeout=60.0):
        npp = cls(driver, folder)
        # Files as Linux paths, or as Windows paths ("C:\\...") as they are.
        paths = [f if isinstance(f, str) and re.match(r"[A-Za-z]:\\", f) else winpath(f) for f in files]
        driver.start(npp.folder / "notepad++.exe", "-nosession", "-multiInst", *paths)

        def up():
            for w in driver.windows():
                if w.visible and w.cls == "Notepad++":
                    return w.hwnd
                if w.visible and w.cls == "#32770":  # a message box before the main window
                    said = " / ".join(k.text for k in driver.children(w.hwnd) if k.text)
                    raise DriveError(f"Notepad++ asks \"{w.title}\": {said}")
            return None
        npp.main = driver.wait_until(up, timeout, "the Notepad++ window")
        return npp

    def command(self, name):
        """A menu command of the host by its IDM_ name, as its menu would send it."""
        return self.d.send(self.main, 0x0111, self.n[name], 0)  # WM_COMMAND

    def command_posted(self, name):
        """The same, posted: for a command that opens a modal dialog."""
        self.d.post(self.main, 0x0111, self.n[name], 0)

    def views(self):
        """The editor views (Scintilla) directly inside the main window that are shown, left to right."""
        views = [w for w in self.d.children(self.main)
                 if w.cls == "Scintilla" and w.parent == self.main and w.visible]
        return sorted(views, key=lambda w: self.d.rect(w.hwnd).left)

    def current_view_index(self):
        _, data = self.d.send_out(self.main, self.n["NPPM_GETCURRENTSCINTILLA"], 0, 4)
        return int.from_bytes(data, "little", signed=True)

    def text(self, view):
        return self.d.view_text(view)

    def tab(self, view_index, tab_index):
        """(tab bar, x, y): where to click for a document tab of a view (0 main, 1 second)."""
        bars = [w for w in self.d.children(self.main) if w.cls == "SysTabControl32" and w.visible
                and w.parent == self.main]
        bars.sort(key=lambda w: self.d.rect(w.hwnd).left)
        bar = bars[view_index].hwnd
        ok, data = self.d.send_out(bar, 0x1300 + 10, tab_index, 16)  # TCM_GETITEMRECT
        if not ok:
            raise DriveError(f"no tab {tab_index} in view {view_index}")
        r = Rect(*(int.from_bytes(data[i:i + 4], "little", signed=True) for i in range(0, 16, 4)))
        return bar, (r.left + r.right) // 2, (r.top + r.bottom) // 2

    def toolbar(self):
        for w in self.d.children(self.main):
            if w.cls == "ToolbarWindow32" and w.visible:
                return w.hwnd
        raise DriveError("no toolbar")

    def toolbar_button_rect(self, command_id):
        """Client rectangle of the toolbar button for a command, or None."""
        bar = self.toolbar()
        index = self.d.send(bar, 0x0400 + 25, command_id, 0)  # TB_COMMANDTOINDEX
        if index < 0:
            return bar, None
        ok, data = self.d.send_out(bar, 0x0400 + 29, index, 16)  # TB_GETITEMRECT
        if not ok:
            return bar, None
        values = [int.from_bytes(data[i:i + 4], "little", signed=True) for i in range(0, 16, 4)]
        return bar, Rect(*values)
