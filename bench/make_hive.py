#!/usr/bin/env python3
"""Writes a system.reg in Wine's format and layout, with no Wine needed: a
background shaped like a fresh 64-bit prefix (about 8,900 sections, 1.7 MB,
44,000 lines, with dword, str(2), str(7), hex and link values in a fresh
prefix's proportions) and N Uninstall subkeys with the seven usual values.
Deterministic for a given seed.

    bench/make_hive.py N OUT [--seed S] [--uninstall-only]

--uninstall-only writes just the Uninstall sections (no header), to be
appended to a real prefix's system.reg while no server runs.
--names FILE also writes the display names, one per line, in the order in
which the registry enumerates their keys.
Prints the file's size and section count.
"""

import argparse
import random

UNINSTALL = ['Software', 'Microsoft', 'Windows', 'CurrentVersion', 'Uninstall']
WORDS = ('Adobe Audio Backup Cloud Codec Data Desktop Driver Engine Explorer '
         'Filter Font Graphics Helper Image Input Kernel Library Media Monitor '
         'Network Office Player Printer Profile Runtime Search Security Server '
         'Service Shell Studio Sync System Tools Update Video Viewer Web').split()
PUBLISHERS = ('Contoso Ltd.|Fabrikam, Inc.|Northwind Traders|Wide World Importers|'
              'Litware, Inc.|Proseware, Inc.|Adventure Works|Tailspin Toys|'
              'Z\\x00fcrich Soft AG|Caf\\x00e9 Logiciels').split('|')


def fold_key(name):
    return [ord(c.lower()) for c in name]


class Key:
    __slots__ = ('children', 'values', 'link')

    def __init__(self):
        self.children = {}
        self.values = []
        self.link = False


def add(root, path):
    key = root
    for element in path:
        key = key.children.setdefault(element, Key())
    return key


def guid(rng):
    h = '%032X' % rng.getrandbits(128)
    return '{%s-%s-%s-%s-%s}' % (h[:8], h[8:12], h[12:16], h[16:20], h[20:])


def hex_data(rng, n):
    return ','.join('%02x' % rng.randrange(256) for _ in range(n))


def hex_lines(head, data):
    """Wine wraps hex data after about 76 columns with ',\\' and two spaces."""
    lines, line = [], head
    for i, byte in enumerate(data.split(',')):
        piece = byte + (',' if i < data.count(',') else '')
        if len(line) + len(piece) > 77:
            lines.append(line + '\\')
            line = '  '
        line += piece
    lines.append(line)
    return '\n'.join(lines)


def background(rng, root):
    """About 8,900 sections in a fresh prefix's proportions."""
    # COM classes: the bulk of a fresh prefix, each a default value and an
    # InprocServer32 subkey with a ThreadingModel.
    for _ in range(1700):
        clsid = add(root, ['Software', 'Classes', 'CLSID', guid(rng)])
        clsid.values.append(('@', '"%s %s Class"' % (rng.choice(WORDS), rng.choice(WORDS))))
        clsid.values.append(('"ProgID"', '"%s.%s.1"' % (rng.choice(WORDS), rng.choice(WORDS))))
        server = add(root, ['Software', 'Classes', 'CLSID', guid(rng), 'InprocServer32'])
        server.values.append(('@', '"C:\\\\windows\\\\system32\\\\%s.dll"' % rng.choice(WORDS).lower()))
        server.values.append(('"ThreadingModel"', '"%s"' % rng.choice(['Both', 'Apartment', 'Free'])))
    for i in range(1500):
        ext = add(root, ['Software', 'Classes', '.%s%d' % (rng.choice(WORDS).lower()[:3], i)])
        ext.values.append(('@', '"%sfile"' % rng.choice(WORDS).lower()))
    for i in range(900):
        iface = add(root, ['Software', 'Classes', 'Interface', guid(rng)])
        iface.values.append(('@', '"I%s%s"' % (rng.choice(WORDS), rng.choice(WORDS))))
        add(root, ['Software', 'Classes', 'Interface', guid(rng), 'ProxyStubClsid32']).values.append(
            ('@', '"%s"' % guid(rng)))
    services = ['System', 'CurrentControlSet', 'Services']
    for i in range(30):
        name = '%s%d' % (rng.choice(WORDS), i)
        svc = add(root, services + [name])
        svc.values += [('"DisplayName"', '"%s %s"' % (rng.choice(WORDS), rng.choice(WORDS))),
                       ('"ErrorControl"', 'dword:%08x' % rng.randrange(4)),
                       ('"ImagePath"', 'str(2):"%%SystemRoot%%\\\\system32\\\\%s.exe"' % name.lower()),
                       ('"Start"', 'dword:%08x' % rng.randrange(5)),
                       ('"Type"', 'dword:%08x' % rng.choice([1, 16, 32]))]
        svc.values.append(('"DependOnService"', 'str(7):"%s\\0%s\\0"' % (rng.choice(WORDS), rng.choice(WORDS))))
    for i in range(900):
        key = add(root, ['Software', 'Microsoft', rng.choice(WORDS), rng.choice(WORDS), 'Settings%d' % i])
        for j in range(rng.randrange(1, 3)):
            key.values.append(('"Flag%d"' % j, 'dword:%08x' % rng.getrandbits(32)))
        key.values.append(('"Blob"', 'hex:' + hex_data(rng, rng.randrange(8, 200))))
        if i % 60 == 0:
            key.values.append(('"List"', 'str(7):"%s\\0%s\\0"' % (rng.choice(WORDS), rng.choice(WORDS))))
    for i in range(900):
        key = add(root, ['System', 'ControlSet001', 'Control', rng.choice(WORDS), 'Entry%d' % i])
        key.values.append(('"Data"', 'hex:' + hex_data(rng, rng.randrange(4, 100))))
        key.values.append(('"Name"', '"%s\\x00e9%s"' % (rng.choice(WORDS), rng.choice(WORDS))))
    for i in range(54):
        link = add(root, ['System', 'Links', 'Link%02d' % i])
        link.link = True
        target = '\\Registry\\Machine\\System\\ControlSet001'
        link.values.append(('"SymbolicLinkValue"',
                            'hex(6):' + ','.join('%02x,00' % ord(c) for c in target)))
    for i in range(120):
        add(root, ['Software', 'Wine', 'Fonts', 'Replacements%d' % i]).values.append(
            ('"%s Sans"' % rng.choice(WORDS), '"%s"' % rng.choice(WORDS)))


def uninstall(rng, root, n):
    for i in range(n):
        name = guid(rng) if i % 3 else '%s %s %d' % (rng.choice(WORDS), rng.choice(WORDS), i)
        product = '%s %s %d.%d' % (rng.choice(WORDS), rng.choice(WORDS), rng.randrange(20), rng.randrange(100))
        key = add(root, UNINSTALL + [name])
        key.values += [
            ('"DisplayName"', '"%s"' % product),
            ('"DisplayVersion"', '"%d.%d.%d"' % (rng.randrange(30), rng.randrange(100), rng.randrange(10000))),
            ('"EstimatedSize"', 'dword:%08x' % rng.randrange(1 << 20)),
            ('"InstallLocation"', '"C:\\\\Program Files\\\\%s\\\\"' % product),
            ('"NoModify"', 'dword:00000001'),
            ('"Publisher"', '"%s"' % rng.choice(PUBLISHERS)),
            ('"UninstallString"', '"\\"C:\\\\Program Files\\\\%s\\\\uninstall.exe\\""' % product),
        ]


def write(out, key, path, stamp, only_below=None):
    """Depth first, a parent before its children, siblings in Wine's order."""
    sections = 0
    inside = only_below is None or path[:len(only_below)] == only_below
    if inside and path and (key.values or key.link or not key.children):
        out.append('[%s] %d' % ('\\\\'.join(path), stamp))
        out.append('#time=1dd8618a76bb28a')
        if key.link:
            out.append('#link')
        for name, value in sorted(key.values, key=lambda nv: nv[0].strip('"').lower()):
            if value.startswith('hex'):
                tag, data = value.split(':', 1)
                out.append(hex_lines('%s=%s:' % (name, tag), data))
            else:
                out.append('%s=%s' % (name, value))
        out.append('')
        sections += 1
    for name in sorted(key.children, key=fold_key):
        sections += write(out, key.children[name], path + [name], stamp, only_below)
    return sections


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('n', type=int)
    parser.add_argument('out')
    parser.add_argument('--seed', type=int, default=20261207)
    parser.add_argument('--uninstall-only', action='store_true')
    parser.add_argument('--names')
    args = parser.parse_args()
    rng = random.Random(args.seed)
    root = Key()
    if not args.uninstall_only:
        background(rng, root)
    add(root, UNINSTALL)
    uninstall(random.Random(args.seed + args.n), root, args.n)
    out = [] if args.uninstall_only else [
        'WINE REGISTRY Version 2', ';; All keys relative to REGISTRY\\\\Machine', '',
        '#arch=win64', '']
    sections = write(out, root, [], 1796626833,
                     UNINSTALL if args.uninstall_only else None)
    text = '\n'.join(out) + '\n'
    with open(args.out, 'w', encoding='ascii') as f:
        f.write(text)
    if args.names:
        below = root
        for element in UNINSTALL:
            below = below.children[element]
        with open(args.names, 'w', encoding='ascii') as f:
            for name in sorted(below.children, key=fold_key):
                display = dict(below.children[name].values)['"DisplayName"']
                f.write(display.strip('"') + '\n')
    print('%s: N=%d, %d bytes, %d sections, %d lines' % (
        args.out, args.n, len(text), sections, text.count('\n')))


if __name__ == '__main__':
    main()
