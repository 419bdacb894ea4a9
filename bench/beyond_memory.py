#!/usr/bin/env python3
"""The CLI on a file several times larger than the memory it may use.

Makes a log of --gb GiB (the corpus of compare.py, repeated), then runs `keep '\\w+'` and
`remove '\\d+'` with -o inside a memory cgroup (v1) limited to --limit-mb, sampling the
process's private memory (RssAnon) for its peak. Each result is compared with the
concatenated results of the file's pieces (cut at line ends, run one by one outside the
cgroup; no match of these patterns crosses a line end). Linux, as root; needs about
4x --gb of free disk in --dir.

    bench/beyond_memory.py --cli build/linux/tools/siftwell/siftwell --gb 3 --limit-mb 256
"""
import argparse
import hashlib
import os
import subprocess
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from compare import make_corpus  # noqa: E402

CGROUP = Path("/sys/fs/cgroup/memory/siftwell-beyond-memory")


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 24):
            h.update(chunk)
    return h.hexdigest()


def in_cgroup(cmd, limit):
    CGROUP.mkdir(exist_ok=True)
    (CGROUP / "memory.limit_in_bytes").write_text(str(limit))
    try:
        (CGROUP / "memory.memsw.limit_in_bytes").write_text(str(limit))
    except OSError:
        pass
    peak = [0]
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, stderr=subprocess.PIPE,
                         preexec_fn=lambda: (CGROUP / "cgroup.procs").write_text(str(os.getpid())))

    def sample():
        while p.poll() is None:
            try:
                for line in Path(f"/proc/{p.pid}/status").read_text().splitlines():
                    if line.startswith("RssAnon:"):
                        peak[0] = max(peak[0], int(line.split()[1]))
            except OSError:
                pass
            time.sleep(0.05)
    s = threading.Thread(target=sample)
    s.start()
    _, err = p.communicate()
    s.join()
    seconds = time.perf_counter() - t0
    failcnt = int((CGROUP / "memory.failcnt").read_text())
    return p.returncode, err.decode(errors="replace"), seconds, peak[0] // 1024, failcnt


def main():
    a = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    a.add_argument("--cli", required=True)
    a.add_argument("--gb", type=int, default=3)
    a.add_argument("--limit-mb", type=int, default=256)
    a.add_argument("--dir", default="/tmp/siftwell-beyond-memory")
    a.add_argument("--pieces", type=int, default=4)
    o = a.parse_args()
    d = Path(o.dir)
    d.mkdir(parents=True, exist_ok=True)
    big = d / f"log-{o.gb}g.txt"
    if not big.exists():
        unit = d / "unit.txt"
        make_corpus(str(unit), 256 << 20, crlf=False)
        data = unit.read_bytes()
        with open(big, "wb") as f:
            for _ in range(o.gb * 4):
                f.write(data)
        unit.unlink()
    size = big.stat().st_size
    print(f"input: {size / 2**30:.2f} GiB; memory allowed: {o.limit_mb} MiB")
    # Pieces cut at line ends.
    pieces = []
    with open(big, "rb") as f:
        step = size // o.pieces
        start = 0
        for i in range(o.pieces):
            end = size if i == o.pieces - 1 else None
            if end is None:
                f.seek(start + step)
                f.readline()
                end = f.tell()
            pieces.append((start, end))
            start = end
    print("| run | exit | seconds | peak private MiB | result GiB | same as the pieces' results |")
    print("|---|---|---|---|---|---|")
    for op, pattern in (("keep", r"\w+"), ("remove", r"\d+")):
        out = d / f"{op}.out"
        code, err, seconds, peak, _ = in_cgroup([o.cli, op, pattern, str(big), "-o", str(out)],
                                                o.limit_mb << 20)
        ref = hashlib.sha256()
        for i, (s, e) in enumerate(pieces):
            piece = d / "piece.txt"
            with open(big, "rb") as f, open(piece, "wb") as g:
                f.seek(s)
                left = e - s
                while left:
                    chunk = f.read(min(left, 1 << 24))
                    g.write(chunk)
                    left -= len(chunk)
            part = subprocess.run([o.cli, op, pattern, str(piece)], check=True, stdout=subprocess.PIPE).stdout
            ref.update(part)
            piece.unlink()
        same = code == 0 and digest(out) == ref.hexdigest()
        gib = out.stat().st_size / 2**30 if out.exists() else 0
        print(f"| {op} `{pattern}` | {code} | {seconds:.1f} | {peak} | {gib:.2f} | {'yes' if same else 'NO'} |"
              + (f" {err.strip()}" if code else ""), flush=True)
        if out.exists():
            out.unlink()
    CGROUP.rmdir()
    return 0


if __name__ == "__main__":
    sys.exit(main())
