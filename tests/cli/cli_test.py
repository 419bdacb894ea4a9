#!/usr/bin/env python3
"""Runs the built siftwell binary (natively, or a .exe under the emulator) on
real temporary files and compares the bytes it writes.

Usage: cli_test.py --cli PATH [--emulator CMD] CASE
"""
import argparse
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

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

    def run(self, *args, stdin=b'', stdout=None, stderr=None, preexec_fn=None, as_nobody=False, env=None):
        cli = self.cli
        kw = {'stdin': stdin} if hasattr(stdin, 'fileno') else {'input': stdin}
        if as_nobody:
            kw.update(user='nobody', group='nogroup', extra_groups=[])
            # The build tree may lie where nobody cannot reach (a checkout in /root): a copy it can run.
            cli = os.path.join(self.tmp, 'cli-for-nobody')
            if not os.path.exists(cli):
                shutil.copy2(self.cli, cli)
                os.chmod(cli, 0o755)
        cmd = ([self.emulator] if self.emulator else []) + [cli] + list(args)
        p = subprocess.run(cmd, stdout=stdout or subprocess.PIPE, stderr=stderr or subprocess.PIPE, timeout=120,
                           preexec_fn=preexec_fn, env=dict(os.environ, **env) if env else None, **kw)
        return p.returncode, p.stdout, (p.stderr or b'').decode('utf-8', 'replace')

    def native(self):
        return not self.emulator

    def leftovers(self, folder=''):
        return [n for n in os.listdir(os.path.join(self.tmp, folder)) if 'siftwell-' in n]

    def stat(self, name):
        return os.stat(os.path.join(self.tmp, name))


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
    # Short copied pieces across the result's 4 MB blocks (a piece that no longer fits starts the next).
    if c.native():
        words = b' '.join(b'w%d' % (i % 977) + b'y' * (i % 13) for i in range(700000))
        c.write('words.txt', words)
        expect_ok(c.run('keep', '-d', ';', r'\w+', c.path('words.txt')), b';'.join(words.split(b' ')) + b';')
    # A result moved to a scratch file as it grows (after every piece, or after one block of
    # copied pieces) reaches standard output and -o unchanged.
    for blocks in ('0', '1'):
        spill = {'SIFTWELL_TEST_SPILL_BLOCKS': blocks}
        for args, want in ((('remove', 'needle'), data.replace(b'needle', b'')),
                           (('keep', '[a-z]+', '-d', ','), b','.join(re.findall(rb'[a-z]+', data)) + b',')):
            expect_ok(c.run(*args, c.path('big.txt'), env=spill), want)
            expect_ok(c.run(*args, c.path('big.txt'), '-o', c.path('spilled.txt'), env=spill))
            expect(c.read('spilled.txt') == want, f'{args} with a spilled result wrote something else to -o')
        expect(c.leftovers() == [], f'scratch files left behind: {c.leftovers()}')
    # The result does move there (the verbose log says how much went through it); with no folder
    # for a scratch file, a result bound to spill fails, naming the reason, and writes nothing.
    want = data.replace(b'needle', b'')
    code, out, err = c.run('remove', '-v', 'needle', c.path('big.txt'), env={'SIFTWELL_TEST_SPILL_BLOCKS': '0'})
    expect(code == 0 and out == want and f'{len(want)} bytes of the result went through a scratch file' in err, err)
    if c.native():  # (Wine takes the temporary folder from its registry, not from the environment)
        code, out, err = c.run('remove', 'needle', c.path('big.txt'),
                               env={'TMPDIR': c.path('no-such-folder'), 'SIFTWELL_TEST_SPILL_BLOCKS': '0'})
        expect(code == 1 and out == b'' and 'a scratch file for the result' in err, f'exit {code} {err}')


@case
def rejected_pattern_writes_nothing(c):
    c.write('in.txt', b'abc')
    code, out, err = c.run('keep', '(', '-o', c.path('new.txt'), c.path('in.txt'))
    expect(code == 2, f'exit {code}')
    expect(out == b'', out)
    expect('missing closing parenthesis at position 2 of the pattern' in err, err)
    expect(not c.exists('new.txt'), 'output file created')
    c.write('old.txt', b'keep me')
    code, out, err = c.run('remove', 'a)', '-o', c.path('old.txt'), c.path('in.txt'))
    expect(code == 2 and c.read('old.txt') == b'keep me', f'exit {code}, file {c.read("old.txt")!r}')
    # A template that names a group the pattern lacks is refused before the run, naming it.
    for template, named in (('<$2>', '$2 at position 2'), ('${x}', '${x} at position 1'), ('a$b', '$b at position 2')):
        code, out, err = c.run('keep', '(a)', '--template', template, '-o', c.path('old.txt'), c.path('in.txt'))
        expect(code == 2 and out == b'' and named in err and c.read('old.txt') == b'keep me', f'exit {code} {err}')


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
    for args in (['frobnicate', 'a'], ['keep'], ['keep', 'a', 'b', 'c'], ['keep', 'a', '--bogus'], ['keep', 'a', '-o'],
                 ['keep', 'a', '--lines', '--template', '$0'], ['remove', 'a', '--template', '$0'],
                 ['keep', 'a', '--unique', '--tally'], ['remove', 'a', '--tally'], ['remove', 'a', '-n']):
        code, out, err = c.run(*args)
        expect(code == 1 and 'siftwell' in err, f'{args}: exit {code} {err}')
    code, out, err = c.run('--help')
    expect(code == 0 and b'siftwell keep PATTERN' in out, f'help: exit {code}')


@case
def reads_until_end_of_file(c):
    if not c.native():
        return  # /proc is Linux's
    # /proc files report size 0 but have content; standard input may be one.
    code, out, err = c.run('keep', r'(?m)^processor.*$', '-d', r'\n', '/proc/cpuinfo')
    expect(code == 0 and out.startswith(b'processor'), f'exit {code} {err} {out[:80]!r}')
    with open('/proc/self/status', 'rb') as f:
        code, out, err = c.run('keep', r'(?m)^Name:', stdin=f)
    expect(code == 0 and out == b'Name:\r\n', f'exit {code} {err} {out!r}')
    # A pipe that delivers in pieces.
    p = subprocess.Popen(['sh', '-c', 'printf a1; sleep 0.2; printf b22'], stdout=subprocess.PIPE)
    code, out, err = c.run('keep', r'\d+', '-d', ',', stdin=p.stdout)
    p.wait()
    expect(code == 0 and out == b'1,22,', f'exit {code} {err} {out!r}')


@case
def bad_inputs_are_named(c):
    os.mkdir(os.path.join(c.tmp, 'folder'))
    code, out, err = c.run('keep', 'a', c.path('folder'), '-o', c.path('out.txt'))
    expect(code == 1 and out == b'' and not c.exists('out.txt'), f'exit {code} {err}')
    if c.native():
        expect('Is a directory' in err, err)
    code, out, err = c.run('keep', 'a', c.path('gone.txt'))
    expect(code == 1 and 'gone.txt' in err, f'exit {code} {err}')
    if c.native():
        expect('No such file or directory' in err, err)


@case
def output_is_replaced_only_on_success(c):
    c.write('in.txt', b'a1b22')
    c.write('old.txt', b'keep me')
    # A run that fails leaves an existing output file as it was.
    for args in (['keep', '(', '-o', c.path('old.txt'), c.path('in.txt')],
                 ['keep', '(?<!', '-o', c.path('old.txt'), c.path('in.txt')]):
        code, out, err = c.run(*args)
        expect(code == 2 and c.read('old.txt') == b'keep me', f'{args}: exit {code} {err}')
    # ... also when the output is the input and the run is cut short.
    slow = (b'a' * 19 + b'b') * 2000
    c.write('slow.txt', slow)
    code, out, err = c.run('remove', '(a?){20}a{20}', '--time-limit', '0.3', '-o', c.path('slow.txt'),
                           c.path('slow.txt'))
    expect(code == 2 and c.read('slow.txt') == slow, f'exit {code} {err}')
    expect(c.leftovers() == [], c.leftovers())
    # Success replaces it; the file keeps its permissions.
    if c.native():
        os.chmod(os.path.join(c.tmp, 'old.txt'), 0o640)
    expect_ok(c.run('keep', r'\d+', '-d', ',', '-o', c.path('old.txt'), c.path('in.txt')), b'')
    expect(c.read('old.txt') == b'1,22,', c.read('old.txt'))
    if c.native():
        expect(os.stat(os.path.join(c.tmp, 'old.txt')).st_mode & 0o777 == 0o640, 'permissions changed')
    expect(c.leftovers() == [], c.leftovers())


@case
def output_writes_through_the_file(c):
    c.write('in.txt', b'a1b22')
    # A file with two names: both see the result.
    c.write('linked.txt', b'old')
    os.link(os.path.join(c.tmp, 'linked.txt'), os.path.join(c.tmp, 'other-name.txt'))
    expect_ok(c.run('keep', r'\d+', '-d', ',', '-o', c.path('linked.txt'), c.path('in.txt')), b'')
    expect(c.read('other-name.txt') == b'1,22,', c.read('other-name.txt'))
    # ... also when it is the input, with long pieces the result refers to in place.
    data = (b'x' * 10000 + b'1') * 300
    c.write('self.txt', data)
    os.link(os.path.join(c.tmp, 'self.txt'), os.path.join(c.tmp, 'self-link.txt'))
    expect_ok(c.run('remove', r'\d', '-o', c.path('self.txt'), c.path('self.txt')), b'')
    expect(c.read('self-link.txt') == data.replace(b'1', b''), 'hard-linked input written wrongly')
    expect(c.leftovers() == [], c.leftovers())
    if not c.native():
        # The hidden attribute stays; Wine keeps a file's DOS attributes in this
        # extended attribute on a Unix file system.
        c.write('hidden.txt', b'old')
        try:
            os.setxattr(os.path.join(c.tmp, 'hidden.txt'), 'user.DOSATTRIB', b'0x2')
        except OSError as e:
            print(f'skipped: hidden attribute ({e})')
            return
        expect_ok(c.run('keep', r'\d+', '-d', ',', '-o', c.path('hidden.txt'), c.path('in.txt')), b'')
        try:
            attributes = int(os.getxattr(os.path.join(c.tmp, 'hidden.txt'), 'user.DOSATTRIB').split(b'\0')[0], 16)
        except OSError:
            attributes = 0  # none left
        expect(c.read('hidden.txt') == b'1,22,' and attributes & 2, f'attributes {attributes:#x}')
        return
    # A symbolic link still points at its file, which holds the result; also
    # one whose file is not there yet (relative to the link's folder).
    os.symlink('linked.txt', os.path.join(c.tmp, 'sym.txt'))
    os.mkdir(os.path.join(c.tmp, 'sub'))
    os.symlink('../made.txt', os.path.join(c.tmp, 'sub', 'dangling'))
    for link, file in (('sym.txt', 'linked.txt'), ('sub/dangling', 'made.txt')):
        expect_ok(c.run('keep', r'\d+', '-d', ';', '-o', c.path(link), c.path('in.txt')), b'')
        expect(os.path.islink(os.path.join(c.tmp, link)) and c.read(file) == b'1;22;', f'{link}: {c.read(link)!r}')
    if os.geteuid() != 0:
        print('skipped: the owner cases run siftwell as nobody, which needs root')
        return
    os.chmod(c.tmp, 0o755)
    os.mkdir(os.path.join(c.tmp, 'shared'))
    os.chmod(os.path.join(c.tmp, 'shared'), 0o777)
    nobody, nogroup = 65534, 65534
    # A target this user may not write is refused, though its folder is writable.
    c.write('shared/roots.txt', b'keep me')
    code, out, err = c.run('keep', r'\d+', '-o', c.path('shared/roots.txt'), c.path('in.txt'), as_nobody=True)
    expect(code == 1 and 'Permission denied' in err, f'exit {code} {err}')
    expect(c.read('shared/roots.txt') == b'keep me' and c.leftovers('shared') == [], 'target touched')
    # Owner, group and mode stay: root writing nobody's file (onto itself) ...
    for name, owner, mode, as_nobody in (('shared/theirs.txt', (nobody, nogroup), 0o640, False),
                                         # ... nobody writing a file of root's it may write ...
                                         ('shared/group.txt', (0, nogroup), 0o664, True),
                                         # ... in a folder it may not write.
                                         ('open.txt', (0, 0), 0o666, True)):
        c.write(name, data)
        os.chown(os.path.join(c.tmp, name), *owner)
        os.chmod(os.path.join(c.tmp, name), mode)
        expect_ok(c.run('remove', r'\d', '-o', c.path(name), c.path(name), as_nobody=as_nobody), b'')
        st = c.stat(name)
        expect(c.read(name) == data.replace(b'1', b''), f'{name}: wrong text')
        expect((st.st_uid, st.st_gid, st.st_mode & 0o7777) == (*owner, mode),
               f'{name}: {st.st_uid}:{st.st_gid} {oct(st.st_mode)}')
    expect(c.leftovers() == [] and c.leftovers('shared') == [], 'leftovers')


@case
def time_limit(c):
    c.write('slow.txt', (b'a' * 19 + b'b') * 50000)
    t0 = time.monotonic()
    code, out, err = c.run('keep', '(a?){20}a{20}', '--time-limit', '0.5', '-o', c.path('out.txt'),
                           c.path('slow.txt'))
    expect(code == 2 and out == b'' and not c.exists('out.txt'), f'exit {code} {err}')
    expect('time limit of 0.5 s' in err, err)
    # Also patterns searched in one engine call (\G, (*SKIP), (*COMMIT)) and a
    # Windows path whose \\G is no \G: each start position here costs a scan
    # of the line, so the whole search would take many seconds.
    c.write('line.txt', b'a' * 60000 + b'\n')
    for pattern in (r'\Gq|(?:a|b)*[0-9]', r'(?:a|b)*[0-9]|(*SKIP)x', r'(?:a|b)*[0-9]|x(*COMMIT)',
                    r'C:\\Games|(?:a|b)*[0-9]'):
        t0 = time.monotonic()
        code, out, err = c.run('keep', pattern, '--time-limit', '0.3', c.path('line.txt'))
        took = time.monotonic() - t0
        expect(code == 2 and out == b'' and 'time limit of 0.3 s' in err, f'{pattern}: exit {code} {err}')
        expect(took < 3, f'{pattern}: the time limit took {took:.1f} s to act')
    # A short pattern with a call to itself that PCRE2's JIT took 5.8 s to compile (nothing can stop that).
    t0 = time.monotonic()
    code, out, err = c.run('keep', r'((){,800}44+rd+|]?i(?0){(?)){,800}', '--time-limit', '0.3', c.path('line.txt'))
    took = time.monotonic() - t0
    expect(code in (0, 2), f'exit {code} {err}')
    expect(took < 3, f'the pattern with a call took {took:.1f} s with a time limit of 0.3 s')
    c.write('in.txt', b'a1b22')
    expect_ok(c.run('keep', r'\d+', '-d', ',', '--time-limit=30', c.path('in.txt')), b'1,22,')
    for bad in ('0', '-1', 'abc', ''):
        code, out, err = c.run('keep', 'a', '--time-limit', bad, c.path('in.txt'))
        expect(code == 1 and '--time-limit' in err, f'{bad!r}: exit {code} {err}')


@case
def write_errors_name_the_reason(c):
    if not c.native():
        return
    c.write('in.txt', b'a1b22' * 100000)
    with open('/dev/full', 'wb') as full:
        code, out, err = c.run('remove', r'\d', c.path('in.txt'), stdout=full)
    expect(code == 1 and 'No space left on device' in err, f'exit {code} {err}')
    code, out, err = c.run('remove', r'\d', c.path('in.txt'), '-o', '/dev/full')
    expect(code == 1 and 'No space left on device' in err, f'exit {code} {err}')


@case
def standard_output_file_is_left_as_it_was_on_failure(c):
    # A result that goes into a file on standard output as it is made: whole on success (also
    # appended, on threads), and on failure or a termination signal the file as it stood before.
    c.write('in.txt', b'x1 y22\n' * 200000)
    for mode, args in (('wb', ('keep', r'\d+')), ('ab', ('remove', r'\d+', '--threads', '2'))):
        code, piped, err = c.run(*args, c.path('in.txt'))
        expect(code == 0, err)
        c.write('out.txt', b'before\n')
        with open(os.path.join(c.tmp, 'out.txt'), mode) as f:
            expect_ok(c.run(*args, c.path('in.txt'), stdout=f))
        expect(c.read('out.txt') == (b'before\n' if mode == 'ab' else b'') + piped, f'{mode}: differs')
    # Many matches first (more than is held before writing), then lines where every start costs.
    c.write('slow.txt', b'x\n' * 300000 + (b'a' * 19 + b'b\n') * 50000)
    for threads in ('1', '2'):
        c.write('out.txt', b'before\n')
        with open(os.path.join(c.tmp, 'out.txt'), 'ab') as f:
            code, _, err = c.run('keep', r'x|(a?){20}a{20}', '--threads', threads, '--time-limit', '0.5',
                                 c.path('slow.txt'), stdout=f)
        expect(code == 2 and 'time limit' in err and c.read('out.txt') == b'before\n',
               f'--threads {threads}: exit {code} {err} {c.read("out.txt")[:20]!r}')
    # Standard error into the same file: the message stays, after what was there.
    with open(os.path.join(c.tmp, 'out.txt'), 'ab') as f:
        code, _, _ = c.run('keep', r'x|(a?){20}a{20}', '--time-limit', '0.5', c.path('slow.txt'), stdout=f,
                           stderr=f)
    expect(code == 2 and c.read('out.txt').startswith(b'before\nsiftwell: time limit'), c.read('out.txt')[:60])
    if not c.native():
        return  # (a signal to the emulator is not one to the program)
    for sig in (signal.SIGTERM, signal.SIGINT):
        c.write('out.txt', b'before\n')
        with open(os.path.join(c.tmp, 'out.txt'), 'ab') as f:
            p = subprocess.Popen([c.cli, 'keep', r'x|(a?){20}a{20}', c.path('slow.txt')], stdout=f,
                                 stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 20
            while os.path.getsize(c.path('out.txt')) <= 7 and time.monotonic() < deadline:
                time.sleep(0.01)
            grown = os.path.getsize(c.path('out.txt'))
            p.send_signal(sig)
            p.wait(timeout=60)
        expect(grown > 7 and p.returncode == -sig and c.read('out.txt') == b'before\n',
               f'{sig}: grown to {grown}, exit {p.returncode}, {c.read("out.txt")[:20]!r}')
    # A signal the caller ignores (nohup's SIGHUP) stays ignored: the run goes on to its end.
    c.write('quick.txt', b'x\n' * 300000 + (b'a' * 11 + b'b\n') * 3000)
    code, whole, err = c.run('keep', r'x|(a?){12}a{12}', c.path('quick.txt'))
    expect(code == 0, err)
    with open(os.path.join(c.tmp, 'out.txt'), 'wb') as f:
        p = subprocess.Popen([c.cli, 'keep', r'x|(a?){12}a{12}', c.path('quick.txt')], stdout=f,
                             stderr=subprocess.DEVNULL,
                             preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
        deadline = time.monotonic() + 20
        while os.path.getsize(c.path('out.txt')) == 0 and time.monotonic() < deadline:
            time.sleep(0.005)
        p.send_signal(signal.SIGHUP)
        p.wait(timeout=60)
    expect(p.returncode == 0 and c.read('out.txt') == whole, f'ignored SIGHUP: exit {p.returncode}')


@case
def shrinking_input_is_reported(c):
    line = b'word another thing 1234 mot \xc3\xa9l\xc3\xa8ve\n'
    c.write('big.txt', line * (40 * 1024 * 1024 // len(line)))
    cmd = ([c.emulator] if c.emulator else []) + [c.cli, 'keep', r'\w+', c.path('big.txt'), '-o', c.path('old.txt')]
    delays = (0.15, 0.05, 0.0)
    if not c.native():
        # Windows itself refuses to cut a mapped file, but a Unix program beside Wine may. The
        # emulator takes a while to start, more or less: the cut comes at parts of a whole run's time.
        started = time.monotonic()
        subprocess.run(cmd, capture_output=True, timeout=120)
        whole = time.monotonic() - started
        delays = tuple(whole * f for f in (0.6, 0.45, 0.75, 0.3, 0.85, 0.5, 0.65))
    for delay in delays:
        c.write('old.txt', b'keep me')
        p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(delay)
        os.truncate(os.path.join(c.tmp, 'big.txt'), 4096)
        out, err = p.communicate(timeout=60)
        err = err.decode('utf-8', 'replace')
        expect(p.returncode in (0, 1), f'exit {p.returncode} (signal?) {err}')
        if p.returncode == 1:
            # (a run that had read every page before the cut sees the change instead)
            expect(('shrank' in err or 'changed while it was read' in err) and c.read('old.txt') == b'keep me',
                   f'{err} {c.read("old.txt")[:20]!r}')
            expect(c.leftovers() == [], c.leftovers())
            return
        c.write('big.txt', line * (40 * 1024 * 1024 // len(line)))
    raise AssertionError('the run always ended before the file shrank')


@case
def changing_input_is_reported(c):
    line = b'A line of text that stays as it is\n'
    count = 40 * 1024 * 1024 // len(line)
    big = os.path.join(c.tmp, 'big.txt')

    def rewrite():  # in place, same size: only the times tell
        with open(big, 'r+b') as f:
            for _ in range(0, count, 65536):
                f.write(line.replace(b'A', b'B') * min(65536, count))
            f.truncate(count * len(line))
    # Rewritten while the result is still going to a slow reader.
    c.write('big.txt', line * count)
    p = subprocess.Popen(([c.emulator] if c.emulator else []) + [c.cli, 'remove', 'B', c.path('big.txt')],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    first = p.stdout.read(1 << 16)
    rewrite()
    out = first + p.stdout.read()
    err = p.stderr.read().decode('utf-8', 'replace')
    p.wait(timeout=60)
    expect(p.returncode == 1 and 'changed while it was read' in err, f'exit {p.returncode}, {err}, {out.count(b"B")} B')
    if not c.native():
        return  # (the emulator's start-up makes the moments below a guess)
    # Rewritten while the result for -o is being made: the target is never mixed.
    before, after = line * count, b'\n' * count
    for delay in (0.1, 0.05, 0.02, 0.0):
        c.write('big.txt', line * count)
        c.write('old.txt', b'keep me')
        p = subprocess.Popen([c.cli, 'remove', 'B', big, '-o', c.path('old.txt')], stderr=subprocess.PIPE)
        time.sleep(delay)
        rewrite()
        err = p.communicate(timeout=60)[1].decode('utf-8', 'replace')
        if p.returncode == 0:
            expect(c.read('old.txt') in (before, after), 'exit 0 with a mixed result')
            continue
        expect(p.returncode == 1 and 'changed while it was read' in err, f'exit {p.returncode} {err}')
        expect(c.read('old.txt') == b'keep me' and c.leftovers() == [], 'target touched')
        return
    raise AssertionError('the run always ended before the file changed')


@case
def little_address_space(c):
    if not c.native():
        return
    # A small JIT stack first: 400 MB of address space is plenty for a small
    # file, and a run that needs a large stack gets one that fits (or the
    # interpreter).
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (400 << 20, 400 << 20))
    c.write('in.txt', b'abc')
    code, out, err = c.run('keep', 'b', '-d', '', c.path('in.txt'), preexec_fn=limit)
    expect(code == 0 and out == b'b', f'exit {code} {err}')
    c.write('long.txt', b'a' * (2 << 20) + b'c')
    code, out, err = c.run('keep', '(?:(a)|b)*c', '-d', '', c.path('long.txt'), preexec_fn=limit)
    expect(code == 0 and len(out) == (2 << 20) + 1, f'exit {code} {err}')
    # Out of memory is the system's failure, not the pattern's (exit 2): 64 MB
    # of text and as much output cannot live in 100 MB.
    def tight():
        resource.setrlimit(resource.RLIMIT_AS, (100 << 20, 100 << 20))
    c.write('huge.txt', (b'x' * 3000 + b'\n') * (64 * 1024 * 1024 // 3001))
    code, out, err = c.run('keep', '(?m)^x+$', '-d', 'yy', c.path('huge.txt'), '-o', c.path('out.txt'),
                           preexec_fn=tight)
    expect(code == 1 and 'Cannot allocate memory' in err and not c.exists('out.txt'), f'exit {code} {err}')


def read_cases():
    """The shared filter cases (tests/cases/filter_cases.tsv): dicts of pattern, options, template,
    input, keep, remove (the last three as bytes)."""
    def unescape(field):
        out, i = bytearray(), 0
        raw = field.encode()
        while i < len(raw):
            if raw[i:i + 1] == b'\\' and i + 1 < len(raw):
                e = raw[i + 1:i + 2]
                if e in (b'r', b'n', b't', b'\\'):
                    out += {b'r': b'\r', b'n': b'\n', b't': b'\t', b'\\': b'\\'}[e]
                    i += 2
                    continue
                if e == b'x':
                    out.append(int(raw[i + 2:i + 4], 16))
                    i += 4
                    continue
            out += raw[i:i + 1]
            i += 1
        return bytes(out)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'cases', 'filter_cases.tsv')
    rows = []
    with open(path, encoding='utf-8') as f:
        for n, line in enumerate(f, 1):
            line = line.rstrip('\n')
            if not line or line.startswith('#'):
                continue
            fields = line.split('\t')
            if len(fields) != 6:
                raise AssertionError(f'filter_cases.tsv:{n}: {len(fields)} fields, not 6')
            pattern, options, template, text, keep, remove = fields
            rows.append({'line': n, 'pattern': pattern, 'options': [o for o in options.split(',') if o],
                         'template': template, 'input': unescape(text), 'keep': unescape(keep),
                         'remove': unescape(remove)})
    return rows


@case
def shared_cases(c):
    rows = read_cases()
    expect(len(rows) >= 20, f'only {len(rows)} cases read')
    for r in rows:
        flags, keep_only = [], []
        for o in r['options']:
            expect(o in ('lines', 'ignore-case', 'unique', 'tally', 'line-number'),
                   f"line {r['line']}: unknown option {o}")
            (keep_only if o in ('unique', 'tally', 'line-number') else flags).append('--' + o)
        c.write('case.txt', r['input'])
        keep = ['keep', *flags, *keep_only] + (['--template', r['template']] if r['template'] else [])
        for args, want in ((keep, r['keep']), (['remove', *flags], r['remove'])):
            # One thread, and the text cut into parts of a line or a few bytes on two and three threads
            # (under the emulator, where each run is slow, on three only).
            runs = (('1', None), ('2', '7'), ('3', '1')) if c.native() else (('1', None), ('3', '1'))
            for threads, part in runs:
                env = {'SIFTWELL_TEST_PART_BYTES': part} if part else None
                code, out, err = c.run(*args, '--threads', threads, '--', r['pattern'], c.path('case.txt'), env=env)
                expect(code == 0 and out == want,
                       f"filter_cases.tsv:{r['line']} {args} --threads {threads} {r['pattern']!r}: "
                       f"exit {code} {err} {out!r} != {want!r}")


@case
def threads_give_the_bytes_of_one(c):
    rnd = random.Random(20261208)
    words = [b'ERROR', b'warn', b'x=12', b'bob@example.org', b'\xc3\xa9t\xc3\xa9', b'\xff', b'\0', b'a' * 5000, b'\r']
    data = b'\n'.join(b' '.join(rnd.choice(words) for _ in range(rnd.randint(0, 6))) for _ in range(3000))
    c.write('in.txt', data)
    tiny = {'SIFTWELL_TEST_PART_BYTES': '300'}
    for args in (('keep', r'\w+@\w+'), ('remove', 'ERROR'), ('keep', '--lines', 'ERROR'), ('keep', '-n', r'\d+'),
                 ('remove', '--lines', '-i', 'WARN'), ('keep', '--template', '<$1>', '-d', '', r'(?<=x=)(\d)'),
                 ('keep', r'^\w+|\w+$'), ('remove', r'(?m)^$'), ('keep', '-d', '', r'a|\xff|\r'),
                 ('keep', '--unique', r'\w+'), ('keep', r'(?s)ERROR.'), ('remove', ''),
                 ('keep', '-n', r'(?<=x=|ERROR )\w+')):
        code, one, err = c.run(*args, '--threads', '1', c.path('in.txt'))
        expect(code == 0, f'{args}: exit {code} {err}')
        # (Under the emulator, where each run is slow, on three threads only.)
        for threads in ('2', '3') if c.native() else ('3',):
            # In parts of about 300 bytes, whose results pass the bound on what a part ahead may hold.
            expect_ok(c.run(*args, '--threads', threads, c.path('in.txt'), env=tiny), one)
            expect_ok(c.run(*args, '--threads', threads, c.path('in.txt'), '-o', c.path('out.txt'),
                            env=dict(tiny, SIFTWELL_TEST_SPILL_BLOCKS='0')))
            expect(c.read('out.txt') == one, f'{args} --threads {threads}: -o differs')
    # The first error in text order wins, whichever thread meets it first: a runaway line after 2 000
    # good ones and a later one with a third as many; nothing written.
    c.write('runaway.txt', b'ab\n' * 2000 + b'a' * 40 + b'!\n' + b'ab\n' * 700 + b'a' * 30 + b'!\n')
    code, out, err1 = c.run('keep', '(a+)+b', '--threads', '1', c.path('runaway.txt'))
    expect(code == 2 and out == b'' and 'backtracking' in err1, f'exit {code} {err1}')
    for threads in ('2', '3'):
        code, out, err = c.run('keep', '(a+)+b', '--threads', threads, '-o', c.path('new.txt'), c.path('runaway.txt'),
                               env={'SIFTWELL_TEST_PART_BYTES': '100'})
        # (The byte named is where the failing engine call started: its stride, not the text, decides.)
        same = re.sub(r'byte \d+', 'byte N', err) == re.sub(r'byte \d+', 'byte N', err1)
        expect(code == 2 and out == b'' and same and not c.exists('new.txt'), f'--threads {threads}: exit {code} {err}')
    # The time limit stops every thread, also parts waiting for their turn to write; nothing written.
    c.write('slow.txt', (b'a' * 19 + b'b\n') * 50000)
    t0 = time.monotonic()
    code, out, err = c.run('keep', '(a?){20}a{20}|b', '--threads', '3', '--time-limit', '0.5', '-o', c.path('late.txt'),
                           c.path('slow.txt'), env={'SIFTWELL_TEST_PART_BYTES': '2000'})
    took = time.monotonic() - t0
    expect(code == 2 and out == b'' and 'time limit of 0.5 s' in err and not c.exists('late.txt'), f'exit {code} {err}')
    expect(took < 5, f'the time limit took {took:.1f} s to act on three threads')
    # Verbose says how the text is searched.
    code, out, err = c.run('keep', '-v', 'ERROR', '--threads', '2', c.path('in.txt'), env=tiny)
    expect(code == 0 and 'parts on 2 threads' in err, err)
    code, out, err = c.run('keep', '-v', '--tally', 'ERROR', '--threads', '2', c.path('in.txt'), env=tiny)
    expect(code == 0 and 'one thread: --tally' in err, err)
    for bad in ('0', '-1', 'x', '', '2x'):
        code, out, err = c.run('keep', 'a', '--threads', bad, c.path('in.txt'))
        expect(code == 1 and '--threads' in err, f'{bad!r}: exit {code} {err}')


@case
def presets(c):
    c.write('presets.ini', b'# saved\r\n[words]\r\npattern = \\w+\r\ntally = yes\r\ndelimiter = "; "\r\n\r\n'
                           b'[ errors ]\npattern = error\nlines = yes\nmatch-case = no\nline-numbers = on\n'
                           b'[secret-other]\npattern = x\n')
    c.write('in.txt', b'a b a\nERROR x\nerror\n')
    ini, text = c.path('presets.ini'), c.path('in.txt')
    expect_ok(c.run('--preset', 'words', '--presets', ini, text), b'2\ta; 1\tb; 1\tERROR; 1\tx; 1\terror; ')
    expect_ok(c.run('keep', '--preset=errors', '--presets=' + ini, text), b'2:ERROR x\n3:error\n')
    # Options given on the command line win over the preset's.
    expect_ok(c.run('--preset', 'words', '--presets', ini, '-d', ',', '--template', '<$0>', text),
              b'2\t<a>,1\t<b>,1\t<ERROR>,1\t<x>,1\t<error>,')
    expect_ok(c.run('remove', '--preset', 'errors', '--presets', ini, text), b'a b a\n')
    expect_ok(c.run('--preset', 'words', '--presets', ini, stdin=b'z z'), b'2\tz; ')
    code, out, err = c.run('--preset', 'nope', '--presets', ini, text)
    expect(code == 1 and out == b'' and "no preset named 'nope'" in err and 'secret-other' not in err,
           f'exit {code} {err}')
    code, out, err = c.run('--preset', 'words', '--presets', c.path('missing.ini'), text)
    expect(code == 1 and 'missing.ini' in err, f'exit {code} {err}')
    c.write('bad.ini', b'[a]\npattern = x\nunique = yes\ntally = maybe\n')
    code, out, err = c.run('--preset', 'a', '--presets', c.path('bad.ini'), text)
    expect(code == 1 and 'bad.ini:4:' in err and 'tally' in err, f'exit {code} {err}')
    for args in (['--preset', 'words', '--presets', ini, '--unique', text], ['keep', 'x', '--presets', ini, text],
                 ['--preset', 'words', '--presets', ini, '--pattern-file', ini, text]):
        code, out, err = c.run(*args)
        expect(code == 1 and out == b'', f'{args}: exit {code} {err}')
    if c.native():
        # The default file: $XDG_CONFIG_HOME/siftwell/presets.ini, else ~/.config/siftwell/presets.ini.
        os.makedirs(os.path.join(c.tmp, 'xdg', 'siftwell'))
        os.makedirs(os.path.join(c.tmp, 'home', '.config', 'siftwell'))
        c.write('xdg/siftwell/presets.ini', b'[p]\npattern = b\n')
        c.write('home/.config/siftwell/presets.ini', b'[p]\npattern = a\n')
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(c.tmp, 'xdg'), HOME=os.path.join(c.tmp, 'home'))
        for e, want in ((env, b'b\r\n'), (dict(env, XDG_CONFIG_HOME=''), b'a\r\na\r\n')):
            p = subprocess.run([c.cli, '--preset', 'p', text], env=e, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            expect(p.returncode == 0 and p.stdout == want, f'default file: exit {p.returncode} {p.stderr} {p.stdout!r}')


@case
def tally_agrees_with_sort_uniq(c):
    """--tally against sort | uniq -c on a generated corpus: the same counts, most frequent first, ties in
    order of first appearance; --unique is the first appearances in order. Enough distinct values to grow
    the table many times, and a few values longer than the arena's blocks share."""
    import random
    rnd = random.Random(7)
    words = [('w%d' % i).encode() for i in range(30000)] + [b'L' * 70000 + str(i).encode() for i in range(3)]
    corpus = [rnd.choice(words[:50]) if rnd.random() < 0.5 else rnd.choice(words) for _ in range(120000)]
    text = b'\n'.join(corpus) + b'\n'
    c.write('corpus.txt', text)
    sort = subprocess.run('LC_ALL=C sort | LC_ALL=C uniq -c', shell=True, input=text, stdout=subprocess.PIPE,
                          check=True).stdout
    want = {}
    for row in sort.splitlines():
        n, value = row.strip().split(b' ', 1)
        want[value] = int(n)
    first = list(dict.fromkeys(corpus))
    for args in (['keep', r'\w+', '-d', '\n'], ['keep', '--lines', '.']):
        code, out, err = c.run(*args, '--tally', c.path('corpus.txt'))
        expect(code == 0, f'{args}: exit {code} {err}')
        rows = [r.split(b'\t', 1) for r in out.split(b'\n')[:-1]]
        got = {v: int(n) for n, v in rows}
        expect(got == want and len(rows) == len(want), f'{args}: {len(rows)} rows, {len(want)} from uniq -c')
        counts = [int(n) for n, _ in rows]
        expect(counts == sorted(counts, reverse=True), f'{args}: not most frequent first')
        rank = {v: i for i, v in enumerate(first)}
        for (n1, v1), (n2, v2) in zip(rows, rows[1:]):
            expect(n1 != n2 or rank[v1] < rank[v2], f'{args}: tie {v1[:20]!r} {v2[:20]!r} out of order')
        code, out, err = c.run(*args, '--unique', c.path('corpus.txt'))
        expect(code == 0 and out == b''.join(v + b'\n' for v in first), f'{args} --unique: exit {code} {err}')


# Patterns whose meaning grep -P and ripgrep share with siftwell on the text
# below (ASCII words, a few accented ones), and whether ripgrep's own engine
# takes them (else rg -P).
PEER_PATTERNS = [
    ('ERROR', True), ('ERROR$', True), ('^ERROR', True), ('^$', True), (r'^\s*$', True), (r'^\s*#', True),
    (r'\d{3}', True), ('WARN|ERROR', True), ('(?i)error', True), (r'\bid\b', True), ('[A-Z]{4,}', True),
    (r'^\S+$', True), ('a.c', True), ('x*', True), ('^.{0,3}$', True), (r'\t', True), ('é', True),
    ('colou?r', True), (r'\s$', True), (r'(?<=user=)bob', False), (r'(\w)\1', False), ('^(?!#)', False),
    (r'^[a-z]+ [a-z]+$', True), ('(?i)ÉTÉ', True),
]
PEER_TEXT = (b'ERROR first\nINFO ok id=7\n\n   \n# comment\n  # indented\nWARN disk 100%\nuser=bob id 12\n'
             b'user=alice\naabbc\ncolor colour\n\ttabbed\ntrailing \nabc\na-c\nxyz\n\xc3\xa9t\xc3\xa9 \xc3\x89T\xc3\x89\n'
             b'Error lower\nlast ERROR\nid\nidentity\n')


@case
def lines_agree_with_grep_and_rg(c):
    if not c.native():
        return  # the peers run natively; the engine is the same in every build
    peers = {}
    if shutil.which('grep'):
        peers['grep -P'] = lambda p, invert, own: ['grep', '-P'] + (['-v'] if invert else []) + ['--', p]
    if shutil.which('rg'):
        peers['rg'] = lambda p, invert, own: (['rg', '--no-filename', '--no-line-number'] + ([] if own else ['-P']) +
                                              (['-v'] if invert else []) + ['-e', p])
    for missing in {'grep -P', 'rg'} - set(peers):
        print(f'skipped peer {missing}: not installed')
    expect(peers, 'neither grep nor rg is installed')
    c.write('peer.txt', PEER_TEXT)
    env = dict(os.environ, LC_ALL='C.UTF-8')
    compared = 0
    for pattern, own in PEER_PATTERNS:
        for invert in (False, True):
            code, ours, err = c.run('remove' if invert else 'keep', '--lines', '--', pattern, c.path('peer.txt'))
            expect(code == 0, f'{pattern!r}: exit {code} {err}')
            for name, argv in peers.items():
                p = subprocess.run(argv(pattern, invert, own) + [c.path('peer.txt')], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=env, timeout=60)
                expect(p.returncode in (0, 1), f'{name} {pattern!r}: exit {p.returncode} {p.stderr!r}')
                expect(ours == p.stdout, f"{name}{' -v' if invert else ''} {pattern!r}: ours {ours!r} != {p.stdout!r}")
                compared += 1
    print(f'{compared} selections compared with {", ".join(peers)}')


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
