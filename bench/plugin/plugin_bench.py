#!/usr/bin/env python3
"""Keep/Remove in the host stand-in, before and after a change: time to result
and peak memory for 1, 10 and 100 MiB documents, one process per run, the
configurations alternating. Prints a Markdown table.

    bench/plugin/plugin_bench.py --bench build/win32/bench/plugin/plugin_bench.exe \
        --before OLD/Siftwell.dll --after build/win32/src/app/Siftwell.dll

"Editor" is the same result written by the host itself (SCI_SETTEXT): what the
editor alone needs for the new document and its undo history. "Plugin extra"
is a run's growth of the peak working set beyond that.
"""
import argparse
import os
import pathlib
import re
import subprocess

ROOT = pathlib.Path(__file__).resolve().parents[2]
CASES = [("keep", r"user=\w+"), ("remove", r"\d+")]


def run(bench, op, pattern, mb, dll):
    out = subprocess.run([str(ROOT / "cmake" / "wine-run"), bench, op, pattern, str(mb), dll],
                         capture_output=True, text=True, timeout=1800)
    line = next((l for l in out.stdout.splitlines() if l.startswith("op=")), None)
    if line is None:
        raise SystemExit(f"no result from {op} {mb} MiB {dll}: {out.stdout}\n{out.stderr}")
    return {k: v for k, v in re.findall(r"(\w+)=(\S+)", line)}


def windows_path(path):
    return "Z:" + str(pathlib.Path(path).resolve())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench", required=True)
    parser.add_argument("--before", required=True)
    parser.add_argument("--after", required=True)
    parser.add_argument("--sizes", type=int, nargs="+", default=[1, 10, 100])
    parser.add_argument("--rounds", type=int, default=1)
    args = parser.parse_args()
    bench = windows_path(args.bench)
    dlls = {"before": windows_path(args.before), "after": windows_path(args.after), "editor": "--editor-only"}

    mib = 1 << 20
    print("| op | doc MiB | result MiB | editor s | before s | after s | editor +MiB | before +MiB | after +MiB "
          "| before extra ×result | after extra ×result |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for mb in args.sizes:
        for op, pattern in CASES:
            best = {}
            for _ in range(args.rounds):
                for name, dll in dlls.items():
                    r = run(bench, op, pattern, mb, dll)
                    grow = int(r["peak_ws"]) - int(r["ws_before"])
                    seconds = float(r["seconds"])
                    old = best.get(name)
                    best[name] = (min(seconds, old[0]) if old else seconds, min(grow, old[1]) if old else grow,
                                  int(r["result"]))
            result = best["editor"][2]
            editor = best["editor"][1]
            extra = lambda name: (best[name][1] - editor) / result if result else float("nan")
            print(f"| {op} `{pattern}` | {mb} | {result / mib:.1f} | {best['editor'][0]:.3f} | {best['before'][0]:.3f} "
                  f"| {best['after'][0]:.3f} | {editor / mib:.1f} | {best['before'][1] / mib:.1f} "
                  f"| {best['after'][1] / mib:.1f} | {extra('before'):.2f} | {extra('after'):.2f} |", flush=True)


if __name__ == "__main__":
    main()
