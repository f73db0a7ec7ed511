#!/usr/bin/env python3
"""Runs the Windows build under Wine and the Linux build on the same prefix,
case by case, and fails on any difference in output bytes or exit status.

Each case is stored by Wine's own tools (regedit, and set_value.exe for what
regedit cannot store), so the Linux build reads a system.reg that Wine's
server wrote, while the Windows build asks Wine's registry directly.

    tests/wine/differential.py --exe build/windows/lsinstalled.exe \
        --helper build/windows/tests/set_value.exe \
        --linux build/release/lsinstalled [--prefix DIR] [CASE...]

A difference that comes from Wine rather than from us may be listed in
expected_differences.txt ("case: what differs, and why"); a listed case
that no longer differs fails the run too.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
UNINSTALL = r'Software\Microsoft\Windows\CurrentVersion\Uninstall'
WOW = r'Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7


def sz(text):
    return (REG_SZ, (text + '\0').encode('utf-16-le', 'surrogatepass'))


def typed(kind, text):
    return (kind, (text + '\0').encode('utf-16-le', 'surrogatepass'))


def raw(kind, data):
    return (kind, data)


def apps(*names, key=lambda i: 'App%03d' % i):
    """Subkeys with the given display names, in this order of creation."""
    return [(key(i), {'DisplayName': sz(n)}) for i, n in enumerate(names)]


# Each case: a list of (subkey path below Uninstall, {value: (type, data)}),
# with optional 'wow' entries, 'raw' values stored by set_value.exe, 'links'
# and 'delete' to remove the Uninstall key itself.
CASES = {
    'empty_key': {'keys': []},
    'missing_key': {'keys': [], 'delete': True},
    'plain_names': {'keys': apps('Zeta Tool', 'alpha', 'Beta', 'gamma 2', 'Gamma 10')},
    'escapes_in_names': {'keys': [
        ('Key [Brackets]', {'DisplayName': sz('Brackets [x] in key')}),
        ('Quote"Key', {'DisplayName': sz('Say "hi" \\ back\\slash')}),
        ('Tab\tKey', {'DisplayName': sz('tab\tinside')}),
        ('Semi;colon=eq', {'DisplayName': sz('semi;colon=eq @ "x"')}),
        ('Ctrl', {'DisplayName': sz('bell\x07 esc\x1b del\x7f')}),
    ]},
    'implicit_parents': {'keys': [
        ('Parent\\Child', {'DisplayName': sz('child only')}),
        ('Listed', {'DisplayName': sz('listed')}),
        ('Deep\\er\\still', {'DisplayName': sz('deep')}),
    ]},
    'case_folded_keys': {'keys': [
        ('App', {'DisplayName': sz('first spelling')}),
        ('APP', {'Publisher': sz('same key')}),
        ('app', {'DisplayName': sz('second write wins')}),
        ('\u00c9cole', {'DisplayName': sz('E acute key')}),
        ('\u00e9COLE', {'Publisher': sz('same key under the fold')}),
    ]},
    'order_traps': {'keys': [
        (k, {'DisplayName': sz(n)}) for k, n in [
            ('zeta', 'Foo'), ('_x', 'FOO'), ('[', 'foo'), ('^', 'fOO'),
            ('`', 'FoO'), ('10', 'foO'), ('9', 'Foo'), ('A', 'FOO'),
            (' sp', 'foo'), ('{', 'fOo'), ('~z', 'Foo'), ('\u00e9', 'FOO')]]},
    'list_order_bytes': {'keys': apps(
        '_Tool', 'Alpha', 'alpha', '~Tool', 'Zeta', '[x]', '{x}', 'Office',
        'Office Tools', '10', '9', '\u00c9t\u00e9', '\u00e9t\u00e9', 'zzz')},
    'value_types': {'keys': [
        ('Sz', {'DisplayName': sz('plain string')}),
        ('Expand', {'DisplayName': typed(REG_EXPAND_SZ, '%ProgramFiles%\\App')}),
        ('Multi', {'DisplayName': typed(REG_MULTI_SZ, 'one\0two\0')}),
        ('Dword', {'DisplayName': raw(REG_DWORD, b'\x43\x42\x41\x00')}),
        ('Binary', {'DisplayName': raw(REG_BINARY, b'WXYZ')}),
        ('BinaryNul', {'DisplayName': raw(REG_BINARY, b'AB\x00CD')}),
        ('Qword', {'DisplayName': raw(11, b'QWORDxyz')}),
        ('None', {'DisplayName': raw(0, b'N\x00O')}),
        ('Odd', {'DisplayName': raw(REG_SZ, b'o\x00d\x00d')}),
        ('Link type', {'DisplayName': raw(6, 'L'.encode('utf-16-le'))}),
    ]},
    'no_display_name': {'keys': [
        ('Without', {'Publisher': sz('no name')}),
        ('Default', {'': sz('default value only')}),
        ('Lower', {'displayname': sz('lower case value name')}),
        ('With', {'DisplayName': sz('with')}),
        ('Empty key', {}),
    ]},
    'duplicates': {'keys': apps('Same', 'Other', 'Same', 'same', 'Same', 'SAME', 'Same')},
    'empty_names': {'keys': apps('', 'x', '', ' ')},
    'length_limits': {'keys': [
        ('L1022', {'DisplayName': sz('a' * 1022)}),
        ('L1023', {'DisplayName': sz('b' * 1023)}),
        ('L1021', {'DisplayName': sz('c' * 1021)}),
        ('U511', {'DisplayName': sz('\u00e9' * 511)}),
        ('U512', {'DisplayName': sz('\u00e9' * 512)}),
        ('Huge', {'DisplayName': sz('h' * 5000)}),
    ]},
    'long_key_names': {'keys': [
        ('k' * 255, {'DisplayName': sz('255 unit key')}),
        ('\u00e9' * 255, {'DisplayName': sz('255 non-ASCII units')}),
    ]},
    'wow6432node': {'keys': apps('Native'), 'wow': apps('32-bit only')},
    'non_ascii': {'keys': apps(
        'Caf\u00e9', '\u65e5\u672c\u8a9e', 'Smile \U0001F600', 'Na\u00efve \u2013 dash',
        '\u0130stanbul', '\u00df', 'K\u212a Kelvin', 'Ohm \u2126', '\u00ff', 'Z\u00fcrich')},
    'non_ascii_keys': {'keys': [
        ('Caf\u00e9', {'DisplayName': sz('cafe key')}),
        ('\u65e5\u672c', {'DisplayName': sz('cjk key')}),
        ('\U0001F600', {'DisplayName': sz('emoji key')}),
        ('\u0130', {'DisplayName': sz('dotted I key')}),
        ('i', {'DisplayName': sz('plain i key')}),
    ]},
    'lone_surrogates': {'keys': [], 'raw': [
        ('Lone', 'DisplayName', REG_SZ, 'a\ud800b\0'.encode('utf-16-le', 'surrogatepass')),
        ('Reversed', 'DisplayName', REG_SZ, '\ude00\ud83d\0'.encode('utf-16-le', 'surrogatepass')),
        ('High at end', 'DisplayName', REG_SZ, 'end\udbff'.encode('utf-16-le', 'surrogatepass')),
    ]},
    'unterminated_after_normal': {'keys': apps('A long normal name first'), 'raw': [
        ('App001', 'DisplayName', REG_SZ, 'NoTerm'.encode('utf-16-le')),
        ('App002', 'DisplayName', REG_SZ, b''),
        ('App003', 'DisplayName', REG_EXPAND_SZ, 'ex'.encode('utf-16-le')),
        ('App004', 'DisplayName', REG_MULTI_SZ, 'mu'.encode('utf-16-le')),
    ]},
    'odd_lengths': {'keys': [], 'raw': [
        ('Odd1', 'DisplayName', REG_SZ, b'a'),
        ('Odd3', 'DisplayName', REG_SZ, b'a\x00b'),
        ('Odd5', 'DisplayName', REG_SZ, b'a\x00b\x00c'),
        ('OddNul', 'DisplayName', REG_SZ, b'a\x00\x00\x00\x00'),
    ]},
    'unterminated_1023': {'keys': [], 'raw': [
        ('U1023', 'DisplayName', REG_SZ, ('u' * 1023).encode('utf-16-le')),
        ('U1024', 'DisplayName', REG_SZ, ('v' * 1024).encode('utf-16-le')),
        ('U1022', 'DisplayName', REG_SZ, ('w' * 1022).encode('utf-16-le')),
    ]},
    'newlines_in_names': {'keys': [], 'raw': [
        ('NL', 'DisplayName', REG_SZ, 'two\nlines\0'.encode('utf-16-le')),
        ('CR', 'DisplayName', REG_SZ, 'carriage\rreturn\0'.encode('utf-16-le')),
        ('CRLF', 'DisplayName', REG_SZ, 'crlf\r\n\0'.encode('utf-16-le')),
    ]},
    'embedded_nuls': {'keys': [], 'raw': [
        ('Mid', 'DisplayName', REG_SZ, 'before\0after\0'.encode('utf-16-le')),
        ('Lead', 'DisplayName', REG_SZ, '\0hidden\0'.encode('utf-16-le')),
    ]},
    'links': {'keys': apps('Plain'), 'raw': [
        (r'..\..\..\..\LinkTarget', 'DisplayName', REG_SZ, 'reached through a link\0'.encode('utf-16-le')),
    ], 'links': [
        ('ToTarget', r'\Registry\Machine\Software\LinkTarget'),
        ('ToMissing', r'\Registry\Machine\Software\NoSuchKey'),
        ('ToSelf', r'\Registry\Machine\Software\Microsoft\Windows\CurrentVersion\Uninstall\ToSelf'),
    ]},
    'guid_keys': {'keys': [
        ('{%08X-1234-5678-9ABC-DEF012345678}' % (i * 2654435761 % 2**32),
         {'DisplayName': sz('Product %d' % (i % 7)), 'DisplayVersion': sz('1.%d' % i),
          'EstimatedSize': raw(REG_DWORD, (i * 1000).to_bytes(4, 'little'))})
        for i in range(40)]},
    'many_values': {'keys': [
        ('Busy', dict([('V%03d' % i, sz('x' * i)) for i in range(100)] +
                      [('DisplayName', sz('busy key'))]))]},
    'punctuation_keys': {'keys': [
        (k, {'DisplayName': sz('key ' + k)}) for k in
        ['a.b', 'a-b', 'a b', 'a_b', 'a+b', 'a(b)', 'a!b', 'a#b', 'a$b', 'a%b',
         'a&b', "a'b", 'a,b', 'a@b', 'a=b', 'a~b']]},
    'whitespace_names': {'keys': apps(
        ' leading', 'trailing ', '\ttab first', 'inner  double', '   ', 'x\ty')},
    'special_units': {'keys': apps(
        '\ufeffBOM first', 'max \uffff unit', 'nonchar \ufffe', 'replacement \ufffd',
        'nbsp\u00a0here', 'zero\u200bwidth')},
    'values_on_uninstall_itself': {'keys': [('', {'DisplayName': sz('on the key itself')}),
                                            ('Child', {'DisplayName': sz('child')})]},
    'case_ties_in_key_order': {'keys': [
        (k, {'DisplayName': sz(n)}) for k, n in [
            ('c', 'tie'), ('a', 'TIE'), ('b', 'Tie'), ('_', 'tIe'), ('D', 'TiE')]]},
    'thousand_entries': {'keys': [
        ('Entry %04d' % i, {'DisplayName': sz('Program %d' % (i * 7919 % 1000)),
                            'Publisher': sz('Publisher %d' % (i % 13))})
        for i in range(1000)]},
}


def reg_string(text):
    return text.replace('\\', '\\\\').replace('"', '\\"')


def reg_hex(data):
    return ','.join('%02x' % b for b in data)


def reg_file(case):
    """The case as a regedit file, the Uninstall key cleared first."""
    lines = ['Windows Registry Editor Version 5.00', '']
    for root in (UNINSTALL, WOW):
        lines += ['[-HKEY_LOCAL_MACHINE\\%s]' % root, '']
    if not case.get('delete'):
        lines += ['[HKEY_LOCAL_MACHINE\\%s]' % UNINSTALL, '']
    for root, entries in ((UNINSTALL, case['keys']), (WOW, case.get('wow', []))):
        for subkey, values in entries:
            lines.append('[HKEY_LOCAL_MACHINE\\%s\\%s]' % (root, subkey))
            for name, (kind, data) in values.items():
                head = '@' if name == '' else '"%s"' % reg_string(name)
                text = (data.decode('utf-16-le', 'surrogatepass')
                        if kind == REG_SZ and len(data) % 2 == 0 else '')
                if text.endswith('\0') and '\0' not in text[:-1]:
                    lines.append('%s="%s"' % (head, reg_string(text[:-1])))
                elif kind == REG_DWORD and len(data) == 4:
                    lines.append('%s=dword:%08x' % (head, int.from_bytes(data, 'little')))
                elif kind == REG_BINARY:
                    lines.append('%s=hex:%s' % (head, reg_hex(data)))
                else:
                    lines.append('%s=hex(%x):%s' % (head, kind, reg_hex(data)))
            lines.append('')
    return '\r\n'.join(lines) + '\r\n'


def hexu(text):
    return text.encode('utf-16-le', 'surrogatepass').hex()


class Wine:
    def __init__(self, prefix):
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG='-all')
        self.prefix = prefix
        self.links = [subkey for subkey, _ in CASES['links']['links']]

    def run(self, *args, capture=False):
        return subprocess.run(['wine', *args], env=self.env, cwd=self.prefix,
                              stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=300)

    def stop(self):
        subprocess.run(['wineserver', '-k'], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run(['wineserver', '-w'], env=self.env)


def run_case(name, case, wine, args, workdir):
    # regedit cannot delete a tree holding links: remove the links first.
    for subkey in wine.links:
        wine.run(args.helper, '--delete-link', hexu(UNINSTALL + '\\' + subkey))
    wine.links = [subkey for subkey, _ in case.get('links', [])]
    reg = os.path.join(workdir, name + '.reg')
    with open(reg, 'wb') as f:
        f.write(b'\xff\xfe' + reg_file(case).encode('utf-16-le', 'surrogatepass'))
    if wine.run('regedit', '/s', reg).returncode != 0:
        raise RuntimeError('regedit failed on ' + name)
    for subkey, value, kind, data in case.get('raw', []):
        path = os.path.normpath(os.path.join(UNINSTALL, subkey).replace('\\', '/')).replace('/', '\\')
        if wine.run(args.helper, hexu(path), hexu(value), str(kind), data.hex()).returncode:
            raise RuntimeError('set_value failed on ' + name)
    for subkey, target in case.get('links', []):
        if wine.run(args.helper, '--link', hexu(UNINSTALL + '\\' + subkey),
                    hexu(target)).returncode:
            raise RuntimeError('set_value --link failed on ' + name)
    on_wine = wine.run(args.exe, capture=True)
    wine.stop()  # Saves system.reg.
    on_linux = subprocess.run([args.linux], env=dict(os.environ, WINEPREFIX=wine.prefix),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return (on_wine.returncode, on_wine.stdout), (on_linux.returncode, on_linux.stdout, on_linux.stderr)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', required=True)
    parser.add_argument('--helper', required=True)
    parser.add_argument('--linux', required=True)
    parser.add_argument('--prefix')
    parser.add_argument('cases', nargs='*')
    args = parser.parse_args()
    args.exe, args.helper, args.linux = map(os.path.abspath, (args.exe, args.helper, args.linux))

    expected = {}
    with open(os.path.join(HERE, 'expected_differences.txt')) as f:
        for line in f:
            if line.strip() and not line.startswith('#'):
                expected[line.split(':', 1)[0].strip()] = line.strip()

    started = time.time()
    workdir = tempfile.mkdtemp()
    prefix = args.prefix or os.path.join(workdir, 'prefix')
    wine = Wine(prefix)
    if not os.path.exists(os.path.join(prefix, 'system.reg')):
        os.makedirs(prefix, exist_ok=True)
        wine.run('wineboot', '-i')
        wine.stop()
    failures = 0
    names = args.cases or list(CASES)
    for name in names:
        (w_status, w_out), (l_status, l_out, l_err) = run_case(name, CASES[name], wine, args, workdir)
        same = (w_status, w_out) == (l_status, l_out) and not l_err
        listed = name in expected
        verdict = 'same' if same else 'DIFFERENT'
        if same == listed:
            failures += 1
            verdict += ' (listed as an expected difference)' if listed else ''
        print('%-28s %-10s status %d, %d lines' % (name, verdict, w_status, w_out.count(b'\n')))
        if not same:
            print('  wine : %d %r' % (w_status, w_out[:600]))
            print('  linux: %d %r %r' % (l_status, l_out[:600], l_err[:200]))
    print('%d cases, %d failed, %.0f s' % (len(names), failures, time.time() - started))
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
