#!/usr/bin/env python3
"""Runs the built siftwell binary (natively, or a .exe under the emulator) on
real temporary files and compares the bytes it writes.

Usage: cli_test.py --cli PATH [--emulator CMD] CASE
"""
import argparse
import os
import subprocess
import sys
import tempfile

CASES = {}


def case(fn):
    CASES[fn.__name__] = fn
    return fn


class Cli:
    def __init__(self, cli, emulator, tmp):
        self.cli, self.emulator, self.tmp = cli, emulator, tmp

    def path(self, name):
        p = os.path.join(self.tmp, name)
        # A Windows program sees the Unix file system as drive Z:.
        return 'Z:' + p.replace('/', '\\') if self.emulator else p

    def write(self, name, data):
        with open(os.path.join(self.tmp, name), 'wb') as f:
            f.write(data)

    def read(self, name):
        with open(os.path.join(self.tmp, name), 'rb') as f:
            return f.read()

    def exists(self, name):
        return os.path.exists(os.path.join(self.tmp, name))

    def run(self, *args, stdin=b''):
        cmd = ([self.emulator] if self.emulator else []) + [self.cli] + list(args)
        p = subprocess.run(cmd, input=stdin, capture_output=True, timeout=60)
        return p.returncode, p.stdout, p.stderr.decode('utf-8', 'replace')


def expect(cond, what):
    if not cond:
        raise AssertionError(what)


def expect_ok(r, out=None):
    code, stdout, stderr = r
    expect(code == 0, f'exit {code}, stderr: {stderr}')
    if out is not None:
        expect(stdout == out, f'stdout {stdout!r} != {out!r}')


@case
def keep_and_remove(c):
    c.write('in.txt', b'a1b22c333')
    expect_ok(c.run('keep', r'\d+', '-o', c.path('out.txt'), c.path('in.txt')), b'')
    expect(c.read('out.txt') == b'1\r\n22\r\n333\r\n', c.read('out.txt'))
    expect_ok(c.run('remove', r'\d+', c.path('in.txt')), b'abc')
    expect_ok(c.run('remove', r'\d+', '--input', c.path('in.txt')), b'abc')
    # Standard input when no file is named; Unicode classes reach the engine intact.
    expect_ok(c.run('keep', r'\d+', '-d', '', stdin='x٣y５'.encode()), '٣５'.encode())
    # An empty pattern leaves the text as it is.
    expect_ok(c.run('keep', '', c.path('in.txt')), b'a1b22c333')


@case
def delimiter_escapes(c):
    c.write('in.txt', b'ab cd')
    expect_ok(c.run('keep', r'\w+', '-d', r'\t', c.path('in.txt')), b'ab\tcd\t')
    expect_ok(c.run('keep', r'\w+', r'--delimiter=;\n', c.path('in.txt')), b'ab;\r\ncd;\r\n')
    expect_ok(c.run('keep', r'\w+', '--delimiter', '', c.path('in.txt')), b'abcd')
    expect_ok(c.run('keep', r'\w+', '-d', r'\r\x', c.path('in.txt')), b'ab\\r\\xcd\\r\\x')
    expect_ok(c.run('keep', r'\w+', c.path('in.txt')), b'ab\r\ncd\r\n')  # default: backslash n


@case
def pattern_and_delimiter_files(c):
    c.write('in.txt', 'café crème\n'.encode())
    c.write('pat.txt', r'é\w*|\bc'.encode())
    c.write('delim.txt', b'\\t|')
    expect_ok(c.run('keep', '--pattern-file', c.path('pat.txt'), '--delimiter-file', c.path('delim.txt'),
                    c.path('in.txt')), 'c\t|é\t|c\t|'.encode())
    # A pattern file is used exactly as stored: its final LF is part of the pattern.
    c.write('pat2.txt', 'crème\n'.encode())
    expect_ok(c.run('keep', '-d', '', '--pattern-file', c.path('pat2.txt'), c.path('in.txt')),
              'crème\n'.encode())
    # remove ignores the delimiter, even a file that is not there.
    expect_ok(c.run('remove', '--delimiter-file', c.path('missing'), '--pattern-file', c.path('pat.txt'),
                    c.path('in.txt')), 'af rème\n'.encode())


@case
def bytes_are_preserved(c):
    data = b'a\0b\xff\xfe\0\r\nc\0\0'
    c.write('in.bin', data)
    expect_ok(c.run('remove', 'b', c.path('in.bin')), b'a\0\xff\xfe\0\r\nc\0\0')
    expect_ok(c.run('remove', 'zz', c.path('in.bin')), data)
    expect_ok(c.run('keep', r'\x00+', '-d', ',', c.path('in.bin')), b'\0,\0,\0\0,')
    expect_ok(c.run('remove', 'zz', stdin=data), data)
    # The output may be the input file itself.
    c.write('same.txt', data)
    expect_ok(c.run('remove', 'b', '-o', c.path('same.txt'), c.path('same.txt')))
    expect(c.read('same.txt') == b'a\0\xff\xfe\0\r\nc\0\0', c.read('same.txt'))
    # The result is written in binary: LF stays LF.
    c.write('lf.txt', b'x\ny\n')
    expect_ok(c.run('remove', 'y', '-o', c.path('lf.out'), c.path('lf.txt')))
    expect(c.read('lf.out') == b'x\n\n', c.read('lf.out'))


@case
def long_and_short_pieces(c):
    # Long stretches between matches and many short ones in one output.
    chunk = b''.join(b'line %d of some text\xc3\xa9\0\n' % i for i in range(3000))
    data = chunk + b'needle' + chunk[:5000] + b'needle' * 3 + b'x' + b'needle,'.join([b'ab'] * 2000) + chunk
    c.write('big.txt', data)
    expect_ok(c.run('remove', 'needle', c.path('big.txt')), data.replace(b'needle', b''))
    expect_ok(c.run('keep', '(?s).+', '-d', '', c.path('big.txt')), data)
    expect_ok(c.run('keep', 'needle|ab', '-d', '', c.path('big.txt')),
              b'needle' * 4 + b'abneedle' * 1999 + b'ab')


@case
def rejected_pattern_writes_nothing(c):
    c.write('in.txt', b'abc')
    code, out, err = c.run('keep', '(', '-o', c.path('new.txt'), c.path('in.txt'))
    expect(code == 2, f'exit {code}')
    expect(out == b'', out)
    expect('missing closing parenthesis at position 1 of the pattern' in err, err)
    expect(not c.exists('new.txt'), 'output file created')
    c.write('old.txt', b'keep me')
    code, out, err = c.run('remove', 'a)', '-o', c.path('old.txt'), c.path('in.txt'))
    expect(code == 2 and c.read('old.txt') == b'keep me', f'exit {code}, file {c.read("old.txt")!r}')


@case
def runaway_pattern_hits_limit(c):
    c.write('in.txt', b'a' * 40 + b'!b')
    code, out, err = c.run('remove', '(a+)+b', '-o', c.path('out.txt'), c.path('in.txt'))
    expect(code == 2, f'exit {code}')
    expect(out == b'' and not c.exists('out.txt'), 'output written')
    expect('backtracking' in err, err)


@case
def io_and_usage_errors(c):
    code, out, err = c.run('keep', 'a', c.path('missing.txt'), '-o', c.path('out.txt'))
    expect(code == 1 and out == b'' and not c.exists('out.txt'), f'exit {code} {err}')
    expect('missing.txt' in err, err)
    c.write('in.txt', b'abc')
    code, out, err = c.run('keep', 'a', c.path('in.txt'), '-o', c.path('no/such/dir/out.txt'))
    expect(code == 1, f'exit {code} {err}')
    code, out, err = c.run('keep', 'a', '--pattern-file', c.path('missing.txt'), c.path('in.txt'))
    expect(code == 1, f'exit {code} {err}')
    for args in (['frobnicate', 'a'], ['keep'], ['keep', 'a', 'b', 'c'], ['keep', 'a', '--bogus'], ['keep', 'a', '-o']):
        code, out, err = c.run(*args)
        expect(code == 1 and 'siftwell' in err, f'{args}: exit {code} {err}')
    code, out, err = c.run('--help')
    expect(code == 0 and b'siftwell keep PATTERN' in out, f'help: exit {code}')


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--cli', required=True)
    ap.add_argument('--emulator', default='')
    ap.add_argument('case', choices=sorted(CASES))
    a = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix='siftwell-cli-') as tmp:
        try:
            CASES[a.case](Cli(a.cli, a.emulator, tmp))
        except AssertionError as e:
            print(f'FAIL {a.case}: {e}')
            return 1
    print(f'ok {a.case}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
