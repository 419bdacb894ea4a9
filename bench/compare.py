#!/usr/bin/env python3
"""Times the siftwell CLI against common tools on a generated ~100 MB log.

Keep is compared with `grep -oP` and `rg -o`, Remove with `perl -pe 's/..//g'`
and `sed -E`. Runs alternate (ours, peer, peer, ours, ...) for each pattern; the
best of N rounds counts. Prints the time ratio ours/peer per pattern (< 1: we
are faster) and our peak memory relative to the document size.

Usage: bench/compare.py --cli build/linux/tools/siftwell/siftwell [--size-mb 100] [--rounds 3]
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

# name, siftwell pattern, grep -P, rg args, perl s///, sed -E s/// (None: no equivalent)
PATTERNS = [
    ('literal', 'timeout', 'timeout', ['timeout'], 's/timeout//g', 's/timeout//g'),
    ('digits', r'\d+', r'\d+', [r'\d+'], r's/\d+//g', 's/[0-9]+//g'),
    ('words', r'\w+', r'\w+', [r'\w+'], r's/\w+//g', r's/\w+//g'),
    ('email', r'[\w.+-]+@[\w-]+\.[\w.-]+', r'[\w.+-]+@[\w-]+\.[\w.-]+', [r'[\w.+-]+@[\w-]+\.[\w.-]+'],
     r's/[\w.+-]+@[\w-]+\.[\w.-]+//g', r's/[[:alnum:]_.+-]+@[[:alnum:]_-]+\.[[:alnum:]_.-]+//g'),
    ('error-lines', '(?mi)^.*error.*$', '(?i)^.*error.*$', ['(?mi)^.*error.*$'], 's/^.*error.*$//gi',
     's/^.*error.*$//I'),
    ('alternation', 'error|timeout|retry|connected', 'error|timeout|retry|connected',
     ['error|timeout|retry|connected'], 's/error|timeout|retry|connected//g', 's/error|timeout|retry|connected//g'),
    ('lookbehind', r'(?<=user=)\w+', r'(?<=user=)\w+', ['-P', r'(?<=user=)\w+'], r's/(?<=user=)\w+//g', None),
    # An optional item, a literal, a repeated type: the shape whose JIT start-up
    # scan PCRE2 10.45 broke (cmake/pcre2-patches/); grep -oP (10.42) is a cross-check.
    ('optional-lead', r'0?5.{2}', r'0?5.{2}', [r'0?5.{2}'], r's/0?5.{2}//g', r's/0?5.{2}//g'),
    # A key=value field and its space, as one drops a noisy field from a log (`status=\d+ `
    # in other logs; this corpus's field is id=).
    ('field', r'id=\d+ ', r'id=\d+ ', [r'id=\d+ '], r's/id=\d+ //g', r's/id=[0-9]+ //g'),
]

# Keep against the tool a user would reach for: name, siftwell pattern, peers
# (label -> arguments before the file). The ratio is ours / the best peer.
KEEP_ROWS = [
    ('error-lines', '(?m)^.*ERROR.*$', {'rg': ['rg', 'ERROR'], 'grep': ['grep', 'ERROR']}),
    ('literal-alternation', 'WARN|ERROR|FATAL',
     {'rg -o': ['rg', '-o', 'WARN|ERROR|FATAL'], 'grep -oP': ['grep', '-oP', 'WARN|ERROR|FATAL']}),
    ('caseless-literal', '(?i)TIMEOUT',
     {'rg -o -i': ['rg', '-o', '-i', 'TIMEOUT'], 'grep -oP': ['grep', '-oP', '(?i)TIMEOUT']}),
    ('non-latin-class', r'\p{Cyrillic}+',
     {'rg -o': ['rg', '-o', r'\p{Cyrillic}+'], 'grep -oP': ['grep', '-oP', r'\p{Cyrillic}+']}),
    ('email-at', r'[\w.+-]+@[\w-]+\.[\w.-]+',
     {'rg -o': ['rg', '-o', r'[\w.+-]+@[\w-]+\.[\w.-]+'], 'grep -oP': ['grep', '-oP', r'[\w.+-]+@[\w-]+\.[\w.-]+']}),
    # Whole lines (siftwell's arguments as a list): the lines holding ERROR, and the text
    # without its blank lines.
    ('lines-error', ['keep', '--lines', 'ERROR'], {'rg': ['rg', 'ERROR'], 'grep': ['grep', 'ERROR']}),
    ('lines-remove-blank', ['remove', '--lines', r'^\s*$'],
     {'rg -v': ['rg', '-v', r'^\s*$'], 'grep -v': ['grep', '-v', r'^\s*$']}),
]

USERS = ['alice', 'bob_1', 'José', 'Øyvind', '田中', 'Müller', 'Zoë', 'Σωκράτης', 'carol.w']
WORDS = ['request', 'served', 'timeout', 'error', 'connected', 'données', 'ошибка', 'ok', 'retry', 'cache',
         'miss', 'GET', '/api/v1/items', 'Failed', 'latency', '値', 'naïve', 'upstream', '٣٤ms', 'ERROR']


def make_corpus(path, size, crlf):
    rnd = random.Random(7)
    eol = b'\r\n' if crlf else b'\n'
    with open(path, 'wb') as f:
        written = 0
        batch = []
        while written < size:
            user = rnd.choice(USERS)
            words = ' '.join(rnd.choice(WORDS) for _ in range(rnd.randint(3, 9)))
            level = rnd.choice(['INFO', 'INFO', 'INFO', 'DEBUG', 'WARN', 'ERROR'])
            line = (f'2026-12-07T{rnd.randint(0, 23):02}:{rnd.randint(0, 59):02}:{rnd.randint(0, 59):02}.'
                    f'{rnd.randint(0, 999):03} {level} [worker-{rnd.randint(1, 16)}] user={user} '
                    f'id={rnd.randint(1, 10**6)} {words}')
            if rnd.random() < 0.1:
                line += f' contact {user.lower()}@example.org'
            b = line.encode() + eol
            batch.append(b)
            written += len(b)
            if len(batch) >= 10000:
                f.write(b''.join(batch))
                batch = []
        f.write(b''.join(batch))


def run(cmd, stdout_path, env):
    """CPU time (user + system), wall time and peak RSS (KiB) of one run;
    output goes to a real file (GNU grep short-cuts when writing to /dev/null)."""
    with open(stdout_path, 'wb') as out:
        t0 = time.perf_counter()
        p = subprocess.Popen(cmd, stdout=out, stderr=subprocess.PIPE, env=env)
        _, status, usage = os.wait4(p.pid, 0)
        elapsed = time.perf_counter() - t0
        err = p.stderr.read().decode(errors='replace')
        p.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code not in (0, 1):  # grep/rg exit 1 when nothing matched
        raise RuntimeError(f'{cmd[0]} exited {code}: {err[:300]}')
    return usage.ru_utime + usage.ru_stime, elapsed, usage.ru_maxrss


def measure(jobs, rounds, metric, out, env):
    """Runs the jobs in turn, every one once per round: the best time (by `metric`), the best wall
    time and the peak resident set of each."""
    best = {k: float('inf') for k in jobs}
    wall = {k: float('inf') for k in jobs}
    peak = {k: 0 for k in jobs}
    for _ in range(rounds):
        for k, cmd in jobs.items():
            cpu, t, rss = run(cmd, out, env)
            best[k] = min(best[k], cpu if metric == 'cpu' else t)
            wall[k] = min(wall[k], t)
            peak[k] = max(peak[k], rss)
    return best, wall, peak


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--cli', required=True)
    ap.add_argument('--size-mb', type=int, default=100)
    ap.add_argument('--rounds', type=int, default=3)
    ap.add_argument('--only', default='', help='comma-separated pattern names')
    ap.add_argument('--variants', default='lf,crlf')
    ap.add_argument('--keep-rows-only', action='store_true', help='only the keep-vs-best-peer rows')
    ap.add_argument('--base-cli', default='',
                    help='an earlier build of siftwell, run in the same alternating rounds (ours / base columns)')
    ap.add_argument('--metric', choices=['cpu', 'wall'], default='cpu',
                    help='time compared: user+system CPU (default; steadier on a shared machine) or wall clock')
    a = ap.parse_args()
    env = dict(os.environ, LC_ALL='C.UTF-8')
    tools = {t: shutil.which(t) for t in ('grep', 'rg', 'perl', 'sed')}
    tmp = tempfile.mkdtemp(prefix='siftwell-bench-')
    out = os.path.join(tmp, 'out')
    rows = []
    keep_rows = []
    try:
        for variant in a.variants.split(','):
            corpus = os.path.join(tmp, f'corpus-{variant}.log')
            make_corpus(corpus, a.size_mb << 20, variant == 'crlf')
            size = os.path.getsize(corpus)
            print(f'# corpus {variant}: {size / 2**20:.1f} MiB', flush=True)
            if variant == 'lf' and not a.only:
                no_match_check(a.cli, corpus, out, env)
            for name, pat, peers in KEEP_ROWS:
                if a.only and name not in a.only.split(','):
                    continue
                jobs = {'keep': [a.cli] + (pat if isinstance(pat, list) else ['keep', pat]) + [corpus]}
                if a.base_cli:
                    jobs['base'] = [a.base_cli] + jobs['keep'][1:]
                for label, args in peers.items():
                    extra = ['--no-filename', '--no-line-number'] if args[0] == 'rg' else []
                    jobs[label] = [tools[args[0]]] + extra + args[1:] + [corpus]
                best, wall, peak = measure(jobs, a.rounds, a.metric, out, env)
                row = {'variant': variant, 'pattern': name, 'size': size, 'best': best, 'wall': wall, 'peak': peak,
                       'peers': list(peers)}
                keep_rows.append(row)
                print(f"{variant:5} {name:20} " + ' '.join(f'{k} {v:.3f}s' for k, v in best.items()) +
                      f" | ours/best {best['keep'] / min(best[p] for p in peers):.2f}" +
                      (f" ours/base {best['keep'] / best['base']:.2f}" if 'base' in best else ''), flush=True)
            if a.keep_rows_only:
                continue
            for name, pat, grep_p, rg_args, perl_s, sed_s in PATTERNS:
                if a.only and name not in a.only.split(','):
                    continue
                jobs = {
                    'keep': [a.cli, 'keep', pat, corpus],
                    'grep -oP': [tools['grep'], '-oP', grep_p, corpus],
                    'rg -o': [tools['rg'], '-o', '--no-filename', '--no-line-number', *rg_args, corpus],
                    'remove': [a.cli, 'remove', pat, corpus],
                    'perl -pe': [tools['perl'], '-pe', perl_s, corpus],
                }
                if sed_s:
                    jobs['sed -E'] = [tools['sed'], '-E', sed_s, corpus]
                if a.base_cli:
                    jobs['base keep'] = [a.base_cli, 'keep', pat, corpus]
                    jobs['base remove'] = [a.base_cli, 'remove', pat, corpus]
                best, wall, peak = measure(jobs, a.rounds, a.metric, out, env)
                row = {'variant': variant, 'pattern': name, 'size': size, 'best': best, 'wall': wall, 'peak': peak}
                rows.append(row)
                print_row(row, flush=True)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print()
    print(f'times: best of {a.rounds} rounds, {a.metric} seconds')
    print_keep_table(keep_rows)
    print()
    print_table(rows)


# Legitimate patterns with few or no matches: each must finish (exit 0) with the
# default matching limits, however long the text.
NO_MATCH = [r'zq\w+', r'(?mi)^.*no such message.*$', r'[\w.+-]+@nowhere\.invalid', r'(?<=user=)nobody\b',
            r'\d{12,}', r'(?s)BEGIN.*?END', r'(\w+)=\1\b', r'^\w+ \d+$']


def no_match_check(cli, corpus, out, env):
    print(f'# few/no-match patterns over {os.path.getsize(corpus) / 2**20:.0f} MiB (default limits)')
    rows = []
    for pat in NO_MATCH:
        with open(out, 'wb') as f:
            t0 = time.perf_counter()
            p = subprocess.run([cli, 'keep', pat, corpus], stdout=f, stderr=subprocess.PIPE, env=env)
            t = time.perf_counter() - t0
        rows.append((pat, p.returncode, t, os.path.getsize(out), p.stderr.decode(errors='replace').strip()))
        print(f'  exit {p.returncode} {t:6.2f}s out {os.path.getsize(out):>9} B  {pat}  {rows[-1][4]}', flush=True)
    return rows


def ratio(best, ours, peer):
    return f'{best[ours] / best[peer]:.2f}' if peer in best else 'n/a'


def print_row(r, flush=False):
    b = r['best']
    print(f"{r['variant']:5} {r['pattern']:12} keep {b['keep']:.3f}s grep {b['grep -oP']:.3f}s rg {b['rg -o']:.3f}s | "
          f"remove {b['remove']:.3f}s perl {b['perl -pe']:.3f}s sed {b.get('sed -E', float('nan')):.3f}s | "
          f"peak keep {r['peak']['keep'] / 1024:.0f} MiB remove {r['peak']['remove'] / 1024:.0f} MiB",
          flush=flush)


def print_keep_table(rows):
    base = any('base' in r['best'] for r in rows)
    # (The wall-clock ratio beside the chosen metric's: the CLI searches large
    # texts on every core, the peers on one.)
    print('| corpus | row | siftwell keep s | peers (s) | ours / best peer | wall: ours / best peer | peak ×doc |' +
          (' base s | ours / base |' if base else ''))
    print('|---|---|---|---|---|---|---|' + ('---|---|' if base else ''))
    for r in rows:
        b, w = r['best'], r['wall']
        peers = ', '.join(f"{p} {b[p]:.3f}" for p in r['peers'])
        best_peer = min(b[p] for p in r['peers'])
        print(f"| {r['variant']} | {r['pattern']} | {b['keep']:.3f} | {peers} | {b['keep'] / best_peer:.2f} | "
              f"{w['keep'] / min(w[p] for p in r['peers']):.2f} | {r['peak']['keep'] / (r['size'] / 1024):.2f} |" +
              (f" {b['base']:.3f} | {b['keep'] / b['base']:.2f} |" if 'base' in b else ''))


def print_table(rows):
    print('| corpus | pattern | keep s | grep -oP s | rg -o s | keep/grep | keep/rg | remove s | perl s | sed s | '
          'remove/perl | remove/sed | wall: keep/best, remove/best | peak keep ×doc | peak remove ×doc |')
    print('|' + '---|' * 15)
    for r in rows:
        b, w, p, mib = r['best'], r['wall'], r['peak'], r['size'] / 1024
        sed = f"{b['sed -E']:.3f}" if 'sed -E' in b else 'n/a'
        keep_wall = w['keep'] / min(w['grep -oP'], w['rg -o'])
        remove_wall = w['remove'] / min(w[k] for k in ('perl -pe', 'sed -E') if k in w)
        print(f"| {r['variant']} | {r['pattern']} | {b['keep']:.3f} | {b['grep -oP']:.3f} | {b['rg -o']:.3f} | "
              f"{ratio(b, 'keep', 'grep -oP')} | {ratio(b, 'keep', 'rg -o')} | {b['remove']:.3f} | "
              f"{b['perl -pe']:.3f} | {sed} | {ratio(b, 'remove', 'perl -pe')} | {ratio(b, 'remove', 'sed -E')} | "
              f"{keep_wall:.2f}, {remove_wall:.2f} | {p['keep'] / mib:.2f} | {p['remove'] / mib:.2f} |")
    based = [r for r in rows if 'base keep' in r['best']]
    if based:
        print()
        print('| corpus | pattern | keep s | base keep s | keep / base | remove s | base remove s | remove / base |')
        print('|---|---|---|---|---|---|---|---|')
        for r in based:
            b = r['best']
            print(f"| {r['variant']} | {r['pattern']} | {b['keep']:.3f} | {b['base keep']:.3f} | "
                  f"{ratio(b, 'keep', 'base keep')} | {b['remove']:.3f} | {b['base remove']:.3f} | "
                  f"{ratio(b, 'remove', 'base remove')} |")


if __name__ == '__main__':
    sys.exit(main())
