#!/usr/bin/env python3
"""Random hand-edited hives, each read by the Windows build under Wine and by
the Linux build: any difference in standard output or in zero/non-zero exit
status is a failure, and the hive is kept.

    tests/wine/random_hives.py --exe build/windows/lsinstalled.exe \\
        --linux build/release/lsinstalled [--count N] [--seed S] [--jobs J] \\
        [--keep DIR] [--only I]

Each hive is the whole system.reg of a scratch prefix, as record_wine.py
runs the recorded hives.  Hive I of seed S is the same on every run, so
`--seed S --only I` replays one exactly.  The seed is printed first.

The generator writes what a person or a tool could leave in the file: every
value form and tag, white space of the whole isspace class wherever it can
stand, byte forms and separators of hex lists, continuations with junk after
the backslash, escapes in strings and key names, raw bytes, options inside
and outside sections, malformed headers (and #arch after one), links (to a
target, to the key's own parent, through a link, a link key's section
again, to keys outside the machine hive), keys away from the Uninstall key
that reach it through links, paths
too long to leave unread or reaching more than 64 KiB into their header
line, continuations that eat a section's header or a
#link line, numbers out of range, CR LF, NUL bytes (single ones, early in
long lines, blocks of zeros) and truncation.  Every hive declares #arch=win64 before its
first section: without it Wine takes the prefix for a 32-bit one, where the
64-bit program cannot run.

With --wow64 the hives also hold the 32-bit view: some Uninstall sections
stand under Software\\Wow6432Node (in any letter case), some keys have a
Wow6432Node subkey of their own, and links lead into either view.  --exe is
then the 32-bit build, and --linux the tests' model of that view
(wow64_view), which reads the same file.
"""

import argparse
import multiprocessing
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'hives'))
import record_wine  # noqa: E402

U = b'Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall'
U_ABSOLUTE = b'\\Registry\\Machine\\' + U.replace(b'\\\\', b'\\')
WOW = [b'Wow6432Node', b'WOW6432NODE', b'wow6432node', b'wOW6432nODE']
SPACE = [b' ', b'\t', b'\x0b', b'\x0c', b'\r']


class Gen:
    def __init__(self, rng, wow64=False):
        self.r = rng
        self.wow64 = wow64
        self.keys = []    # Key names made so far, for repeats and links.
        self.links = []   # Key names of links.
        self.far_links = []  # Whole paths of links away from the Uninstall key.

    def chance(self, p):
        return self.r.random() < p

    def ws(self, p=0.25):
        if not self.chance(p):
            return b''
        return b''.join(self.r.choice(SPACE) for _ in range(self.r.randint(1, 3)))

    def hexdigits(self, n):
        return bytes(self.r.choice(b'0123456789abcdefABCDEF') for _ in range(n))

    # Text inside quotes, as a string value, value name or class.
    def text(self, quote=b'"'):
        parts = []
        for _ in range(self.r.randint(0, 6)):
            k = self.r.random()
            if k < 0.45:
                parts.append(bytes(self.r.choice(b'abcdefghijklmnopqrstuvwxyz'
                                                 b'ABCDEFXYZ 0123456789-_.()&+')
                                   for _ in range(self.r.randint(1, 8))))
            elif k < 0.6:
                parts.append(self.r.choice([
                    b'\\\\', b'\\"', b'\\n', b'\\t', b'\\r', b'\\a', b'\\b',
                    b'\\v', b'\\f', b'\\e', b'\\0', b'\\q', b'\\[', b'\\]',
                    b'\\101', b'\\400', b'\\777', b'\\18', b'\\0017']))
            elif k < 0.72:
                parts.append(b'\\x' + self.hexdigits(self.r.randint(0, 5)))
            elif k < 0.8:
                parts.append(self.r.choice([b'\\xd83d\\xde00', b'\\xd800',
                                            b'\\xde00\\xd83d', b'\\xdc00x']))
            elif k < 0.9:
                parts.append(self.r.choice(['é', '日本', '😀', 'ß', 'İ', 'Ω'])
                             .encode())
            elif k < 0.95:
                parts.append(b'\\' + self.r.choice(['é', '日']).encode())
            else:
                parts.append(self.r.choice([b'\xff', b'\xc3', b'\xc3(',
                                            b'\xed\xa0\x80', b'\xc0\x80',
                                            b'\xf4\x90\x80\x80', b'\x7f']))
        body = b''.join(parts)
        if quote == b']':
            body = body.replace(b'\\\\', b'\\\\\\\\')
        return body

    def number(self):
        k = self.r.random()
        if k < 0.5:
            digits = self.hexdigits(self.r.randint(1, 8))
        elif k < 0.65:
            digits = self.hexdigits(self.r.randint(9, 20))
        elif k < 0.75:
            digits = b''
        else:
            digits = self.r.choice([b'1', b'ffffffff', b'10000000000000000',
                                    b'0', b'7fffffff', b'zz', b'1g'])
        sign = self.r.choice([b'', b'', b'', b'-', b'+'])
        x = self.r.choice([b'', b'', b'0x', b'0X'])
        return self.ws(0.2) + sign + x + digits + self.r.choice(
            [b'', b'', b' junk', b'\x0b'])

    def utf16_bytes(self, s):
        return s.encode('utf-16-le')

    def hex_list(self, data):
        out = []
        for i, b in enumerate(data):
            k = self.r.random()
            if k < 0.8:
                byte = b'%02x' % b
            elif k < 0.85:
                byte = b'%x' % b
            elif k < 0.9:
                byte = b'0x%02x' % b
            elif k < 0.93:
                byte = b'0%02x' % b
            elif k < 0.95:
                byte = self.r.choice([b'+41', b'-1', b'100', b'zz', b'G'])
            elif k < 0.97:
                # A long number: Wine checks only its low 32 bits, and one
                # past 64 bits is all ones.
                low = b if self.chance(0.8) else self.r.randint(0x100, 2**32 - 1)
                byte = self.r.choice([b'', b'0x', b'0X']) + self.r.choice(
                    [b'1', b'ffffffff', b'0000000000', b'100000000']) + \
                    b'%08x' % low
            else:
                byte = b'%02X' % b
            out.append(byte)
            if i + 1 < len(data):
                k = self.r.random()
                if k < 0.8:
                    sep = b','
                elif k < 0.9:
                    sep = self.ws(1) + b',' + self.ws(0.5)
                elif k < 0.95:
                    sep = self.r.choice(SPACE)
                else:
                    sep = self.r.choice([b',,', b'', b';'])
                out.append(sep)
                if self.chance(0.06):
                    out.append(self.continuation())
        text = b''.join(out)
        if self.chance(0.05):
            text += b',' + self.continuation()
        if self.chance(0.1):
            text += self.ws(1)
        return text

    def continuation(self):
        after = self.r.choice([b'', b'', b'', b' junk', b'\r', b'\\', b'\x0b'])
        line = b'\\' + after + b'\n'
        if self.chance(0.1):
            line += self.ws(1) + b'\n'  # An empty continuation line.
        return line + self.r.choice([b'  ', b'', b'\t', b'\x0c '])

    def value_data(self):
        k = self.r.random()
        name = self.r.choice(['App', 'Café', '日本語', 'x', '', 'Long ' * 20])
        if k < 0.3:
            tag = self.r.choice([b'', b'', b'', b'str:', b'str(2):',
                                 b'str(7):', b'str(1):', b'sz:'])
            close = b'' if self.chance(0.05) else b'"'
            tail = self.r.choice([b'', b'', b'', b' junk', b'\x0b'])
            return tag + b'"' + self.text() + close + tail
        if k < 0.75:
            tag = self.r.choice([b'hex:', b'hex(1):', b'hex(2):', b'hex(7):',
                                 b'hex(1):', b'hex( 1):', b'hex(0x1):',
                                 b'hex(01):', b'hex(-1):', b'hex(+1):',
                                 b'hex():', b'hex(4):', b'hex(ffffffff):',
                                 b'hex(100000001):', b'hex(1 ):', b'hex(z):'])
            data = self.utf16_bytes(name)
            if self.chance(0.7):
                data += b'\0\0'
            if self.chance(0.1):
                data = data[:-1]
            lead = self.r.choice([b'', b'', b'', b'', b' ', b'\t'])
            return tag + lead + self.hex_list(data)
        if k < 0.9:
            return b'dword:' + self.number()
        return self.r.choice([b'', b'junk', b'hex', b'dword', b'"', b'str(7)'])

    def value_line(self):
        k = self.r.random()
        if k < 0.6:
            name = self.r.choice([b'"DisplayName"', b'"displayname"',
                                  b'"DISPLAYNAME"', b'"Display\\x4eame"',
                                  b'"Display\\Name"'])
        elif k < 0.7:
            name = b'@'
        elif k < 0.75:
            name = self.r.choice([b'"DisplayName', b'"Display"Name"', b'""'])
        else:
            name = b'"' + self.text() + b'"'
        return (self.ws() + name + self.ws() + b'=' + self.ws() +
                self.value_data() + b'\n')

    def key_element(self):
        k = self.r.random()
        if k < 0.5:
            return bytes(self.r.choice(b'abcdefghijABCDEFGHIJ0123456789 _-{}')
                         for _ in range(self.r.randint(1, 6)))
        if k < 0.85 and self.keys:
            name = self.r.choice(self.keys)
            return name.swapcase() if self.chance(0.3) else name
        if k < 0.97:
            return self.text(b']') or b'k'
        return b'L' * self.r.choice([255, 256, 257])

    def path(self):
        elements = [self.key_element()]
        if self.chance(0.2):
            elements.append(self.key_element())
        if self.chance(0.03):
            # Elements short enough, a path too long to leave unread.
            elements += [b'd%d' % i for i in range(self.r.choice([60, 90]))]
        elif self.chance(0.004):
            # A rest further into its header line than 64 KiB.
            elements += [b'w%03d' % i + b'w' * 246 for i in range(270)]
        text = b'\\\\'.join(elements)
        if self.chance(0.05):
            text = text.replace(b'\\\\', b'\\\\\\\\', 1) + b'\\\\'
        return text

    def link_target(self):
        k = self.r.random()
        if self.wow64 and self.chance(0.2):
            target = (b'\\Registry\\Machine\\Software\\' + self.r.choice(WOW) +
                      b'\\' + self.r.choice([b'T1', b'Microsoft', U_ABSOLUTE[27:]]))
        elif k < 0.3:
            target = U_ABSOLUTE  # The link's own parent.
        elif k < 0.6 and self.keys:
            target = U_ABSOLUTE + b'\\' + self.r.choice(self.keys)
        elif k < 0.7:
            target = b'\\Registry\\Machine\\Software\\T%d' % self.r.randint(1, 3)
        elif k < 0.8:
            # Keys on the way to the Uninstall key, or away from it.
            target = b'\\Registry\\Machine\\' + self.r.choice([
                b'Software\\Microsoft\\Windows\\CurrentVersion',
                b'Software\\Microsoft', b'Software\\Far', b'System\\Far\\x'])
        elif k < 0.9 and self.far_links:
            target = b'\\Registry\\Machine\\' + self.r.choice(
                self.far_links).replace(b'\\\\', b'\\')
        else:
            target = self.r.choice([b'\\REGISTRY\\MACHINE\\Software\\T1',
                                    b'\\Registry\\Machine\\Software\\No\\T1',
                                    b'\\Registry\\\\Machine\\Software\\T1',
                                    b'Software\\T1', b'\\Registry\\User\\x',
                                    # Outside the machine hive.
                                    b'\\Registry\\Ma', b'\\registry\\MA\\Sub',
                                    b'\\Registry',
                                    # HKLM itself: a later section of the
                                    # link may make it a link.
                                    b'\\Registry\\Machine'])
        data = target.decode('utf-8', 'replace').encode('utf-16-le')
        return b'"SymbolicLinkValue"=hex(6):' + b','.join(
            b'%02x' % b for b in data) + b'\n'

    def header(self, path):
        stamp = self.r.choice([b' 1796626833', b' 1796626833', b'', b' junk',
                               b'x', b' 1 2'])
        if self.chance(0.04):
            return self.ws() + b'[' + path + b'\n'   # No closing bracket.
        return self.ws(0.1) + b'[' + path + b']' + stamp + b'\n'

    def far_path(self):
        """A key away from the Uninstall key, maybe through a link there."""
        if self.far_links and self.chance(0.4):
            base = self.r.choice(self.far_links)
        else:
            base = self.r.choice([
                b'Software\\Far', b'Software\\Far\\Deeper', b'System\\Far',
                b'Software\\Microsoft\\Far', b'A',
                b'Software\\Microsoft\\Windows\\Far'])
        element = (b'Uninstall' if self.chance(0.2) else
                   self.r.choice(self.keys) if self.keys and self.chance(0.3)
                   else self.key_element())
        path = base + b'\\' + element
        if self.chance(0.3):
            path += b'\\' + self.key_element()
        return path

    def wow64_path(self, path):
        """The path moved into the 32-bit view, or given a Wow6432Node of
        its own, now and then."""
        if path.startswith(U) and self.chance(0.5):
            path = (b'Software\\\\' + self.r.choice(WOW) + b'\\\\' +
                    path[len(b'Software\\\\'):])
        if self.chance(0.1):
            path += b'\\\\' + self.r.choice(WOW)
        return path

    def section(self):
        k = self.r.random()
        far = False
        if k < 0.1:
            path = self.far_path()
            far = True
        elif k < 0.12:
            # Keys elsewhere: link targets and unrelated sections.
            path = self.r.choice([b'Software\\\\T1', b'Software\\\\T2',
                                  b'Software\\\\T3', b'Software\\\\Z'])
        elif k < 0.2 and self.links:
            # A link key's section again, or a path through a link.
            link = self.r.choice(self.links)
            link = link.swapcase() if self.chance(0.3) else link
            path = U + b'\\\\' + link
            # Through the link, again and again if it leads to its parent.
            for _ in range(self.r.choice([0, 1, 1, 2, 3])):
                path += b'\\\\' + link
            if self.chance(0.5):
                path += b'\\\\' + self.key_element()
        else:
            name = self.path()
            self.keys.append(name.split(b'\\\\')[0])
            path = U + b'\\\\' + name
        if self.wow64:
            path = self.wow64_path(path)
        out = [self.header(path)]
        if self.chance(0.7):
            out.append(b'#time=1dd8618a76bb28a\n')
        if self.chance(0.05):
            out.append(b'#class="' + self.text() + b'"\n')
        if self.chance(0.12) and path.startswith(U + b'\\\\'):
            out.append(self.r.choice([b'#link\n', b'#linkXYZ\n']))
            out.append(self.link_target())
            self.links.append(path[len(U) + 2:])
        elif far and self.chance(0.4):
            out.append(b'#link\n')
            out.append(self.link_target())
            self.far_links.append(path)
        for _ in range(self.r.randint(0, 3)):
            k = self.r.random()
            if k < 0.8:
                out.append(self.value_line())
            elif k < 0.85:
                out.append(b';' + self.text() + b'\n')
            elif k < 0.9:
                out.append(b'#arch=win64\n')
            elif k < 0.95:
                out.append(self.ws(1) + b'\n')
            else:
                out.append(b'junk line\n')
        if self.chance(0.07):
            # A continued value that eats the next section's header, or a
            # line between, unless a line on the way breaks the list.
            out.append(b'"Other"=hex:01,\\' + self.r.choice([b'', b' x']) +
                       b'\n')
            for _ in range(self.r.choice([0, 0, 1, 2])):
                out.append(self.r.choice([b'  02,\\\n', b'  zz,\\\n',
                                          b'  03\n', b'#link\n', b'\\\n']))
            return b''.join(out)
        out.append(b'\n')
        return b''.join(out)

    def hive(self):
        out = [b'WINE REGISTRY Version 2\n',
               b';; All keys relative to REGISTRY\\\\Machine\n\n',
               b'#arch=win64\n\n']
        if self.chance(0.5):
            out.append(b'[' + U + b'] 1796626833\n\n')
        for _ in range(self.r.randint(1, 12)):
            out.append(self.section())
            k = self.r.random()
            if k < 0.02:
                out.append(self.r.choice([b'#arch=win32\n', b'#arch=bogus\n']))
            elif k < 0.035:
                # After a malformed header no section is open.
                out.append(b'[' + U + b'\\\\broken\n#arch=' + self.r.choice(
                    [b'win64', b'win32', b'win99']) + b'\n')
            elif k < 0.05:
                out.append(b'#arch=win64\n')
            elif k < 0.07:
                out.append(self.value_line())  # Outside any section.
        if self.chance(0.03):
            out.append(b'"DisplayName"=hex(1):41,00,\\')  # On the last line.
        data = b''.join(out)
        # Damage spares the #arch line: without it the program cannot run.
        start = len(b''.join(out[:3]))
        k = self.r.random()
        if k < 0.05:
            data = data.replace(b'\n', b'\r\n')
        elif k < 0.1:
            data = data[:self.r.randint(start, len(data))]
        elif k < 0.14:
            at = self.r.randint(start, len(data))
            data = data[:at] + b'\0' + data[at:]
        elif k < 0.2:
            # NULs early in long lines and blocks of zeros: where Wine's
            # reads of a line end decides what the next line is.
            for _ in range(self.r.randint(1, 4)):
                at = self.r.randint(start, len(data))
                zeros = b'\0' * self.r.choice([1, 1, 2, self.r.randint(3, 300)])
                if self.chance(0.5):
                    data = data[:at] + zeros + b'q' * self.r.randint(0, 200) + data[at:]
                else:
                    data = data[:at] + zeros + data[at + len(zeros):]
        return data


def make_hive(seed, index, wow64=False):
    return Gen(random.Random('%d:%d' % (seed, index)), wow64).hive()


def run_linux(program, hive, folder):
    with open(os.path.join(folder, 'system.reg'), 'wb') as f:
        f.write(hive)
    run = subprocess.run([program], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, timeout=60,
                         env=dict(os.environ, WINEPREFIX=folder))
    return run.returncode, run.stdout


def check(job):
    seed, index, args, work = job
    hive = make_hive(seed, index, args.wow64)
    folder = os.path.join(work, 'worker%d' % os.getpid())  # One at a time.
    os.makedirs(folder, exist_ok=True)
    hive_path = os.path.join(folder, 'hive.reg')
    with open(hive_path, 'wb') as f:
        f.write(hive)
    wine_status, wine_out, _ = record_wine.run_under_wine(
        args.exe, args.base, hive_path, os.path.join(folder, 'scratch'))
    linux_folder = os.path.join(folder, 'linux')
    os.makedirs(linux_folder, exist_ok=True)
    linux_status, linux_out = run_linux(args.linux, hive, linux_folder)
    same = wine_out == linux_out and (wine_status == 0) == (linux_status == 0)
    return index, same, hive, (wine_status, wine_out), (linux_status, linux_out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', required=True)
    parser.add_argument('--linux', required=True)
    parser.add_argument('--count', type=int, default=100)
    parser.add_argument('--seed', type=int)
    parser.add_argument('--jobs', type=int, default=2)
    parser.add_argument('--only', type=int)
    parser.add_argument('--keep', default='random-hive-differences')
    parser.add_argument('--wow64', action='store_true',
                        help='the 32-bit view: --exe is the 32-bit build and '
                        '--linux the model of the view')
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else int(time.time()) % 1000000
    args.exe = os.path.abspath(args.exe)
    args.linux = os.path.abspath(args.linux)
    print('seed %d, %s' % (seed, 'hive %d' % args.only if args.only is not None
                           else '%d hives' % args.count), flush=True)
    root = os.environ.get('LSINSTALLED_WINE_ROOT') or tempfile.mkdtemp()
    args.base = record_wine.base_prefix(root)
    work = tempfile.mkdtemp(dir=root)
    indices = [args.only] if args.only is not None else range(args.count)
    jobs = [(seed, i, args, work) for i in indices]
    differences = 0
    started = time.time()
    with multiprocessing.Pool(args.jobs) as pool:
        for index, same, hive, wine, linux in pool.imap_unordered(check, jobs):
            if same:
                continue
            differences += 1
            os.makedirs(args.keep, exist_ok=True)
            name = os.path.join(args.keep, 'seed%d-hive%d' % (seed, index))
            with open(name + '.reg', 'wb') as f:
                f.write(hive)
            print('DIFFERENT hive %d (kept as %s.reg)\n  wine:  status %d %r\n'
                  '  linux: status %d %r' % (index, name, wine[0], wine[1],
                                             linux[0], linux[1]), flush=True)
    shutil.rmtree(work, ignore_errors=True)
    print('%d hives, %d differences, seed %d, %.0f s' % (
        len(jobs), differences, seed, time.time() - started))
    sys.exit(1 if differences else 0)


if __name__ == '__main__':
    main()
