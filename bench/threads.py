#!/usr/bin/env python3
"""Times the siftwell CLI with --threads 1 against --threads N on compare.py's generated log.

Runs alternate (1 thread, N threads, 1 thread, ...) for each row; the best wall time of the
rounds counts, and every run's output is checked to be the same bytes as the one-thread run.
Prints, beside each time, the CPUs the run used (its CPU time over its wall time), and the
machine's idle share and load average over the row: the speed-up on a shared machine depends on
what else runs.

Usage: bench/threads.py --cli build/linux/tools/siftwell/siftwell [--size-mb 100] [--rounds 5] [--threads 2]
"""
import argparse
import hashlib
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare import make_corpus, run  # noqa: E402

# name, siftwell arguments before the file
ROWS = [
    ('keep email', ['keep', r'[\w.+-]+@[\w-]+\.[\w.-]+']),
    ('keep digits', ['keep', r'\d+']),
    ('keep words', ['keep', r'\w+']),
    ('keep lookbehind', ['keep', r'(?<=user=)\w+']),
    ('remove words', ['remove', r'\w+']),
    ('keep --lines ERROR', ['keep', '--lines', 'ERROR']),
    ('keep -n lines (?i)timeout', ['keep', '-n', '--lines', '(?i)timeout']),
    ('keep long words', ['keep', r'\b\w{15,}\b']),
    ('remove --lines blank-or-INFO', ['remove', '--lines', r'^\s*$|INFO']),
]


def idle_and_total():
    """The machine's idle and total CPU time so far (/proc/stat, in ticks)."""
    with open('/proc/stat') as f:
        ticks = [int(x) for x in f.readline().split()[1:]]
    return ticks[3] + ticks[4], sum(ticks)


def digest(path):
    h = hashlib.sha256()
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            h.update(block)
    return h.hexdigest()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--cli', required=True)
    ap.add_argument('--size-mb', type=int, default=100)
    ap.add_argument('--rounds', type=int, default=5)
    ap.add_argument('--threads', type=int, default=2)
    ap.add_argument('--only', default='', help='comma-separated row names')
    a = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix='siftwell-threads-') as tmp:
        corpus = os.path.join(tmp, 'log.txt')
        make_corpus(corpus, a.size_mb << 20, crlf=False)
        out = os.path.join(tmp, 'out.txt')
        n = a.threads
        print(f'| row | 1 thread: wall s (CPUs used) | {n} threads: wall s (CPUs used) | speed-up | '
              f'machine idle | load before → after |')
        print('|---|---|---|---|---|---|')
        for name, args in ROWS:
            if a.only and name not in a.only.split(','):
                continue
            load0 = os.getloadavg()[0]
            idle0 = idle_and_total()
            best = {1: (float('inf'), 0.0), n: (float('inf'), 0.0)}  # the best wall time and its CPU time
            want = None
            for _ in range(a.rounds):
                for k in (1, n):
                    cpu, wall, _ = run([a.cli, *args, '--threads', str(k), corpus], out, None)
                    best[k] = min(best[k], (wall, cpu))
                    d = digest(out)
                    if want is None:
                        want = d
                    elif d != want:
                        raise RuntimeError(f'{name}: --threads {k} wrote other bytes')
            idle1 = idle_and_total()
            idle = (idle1[0] - idle0[0]) / max(1, idle1[1] - idle0[1])
            load1 = os.getloadavg()[0]
            (w1, c1), (wn, cn) = best[1], best[n]
            print(f'| {name} | {w1:.3f} ({c1 / w1:.2f}) | {wn:.3f} ({cn / wn:.2f}) | {w1 / wn:.2f}× | '
                  f'{idle:.0%} | {load0:.1f} → {load1:.1f} |', flush=True)


if __name__ == '__main__':
    main()
