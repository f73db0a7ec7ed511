#!/usr/bin/env python3
"""The 32-bit Windows build against the 32-bit view of a prefix, under a
Wine that runs 32-bit programs (its 32-bit half installed):

    tests/wine/wow64.py --exe32 build/windows32/lsinstalled.exe \\
        --exe64 build/windows/lsinstalled.exe --linux lsinstalled \\
        --model wow64_view

- Hand-written hives, one for each rule of the view that wow64_view.cc
  models: the 32-bit build prints what Wine was seen to give, and the
  model the same.
- A 64-bit prefix where Wine's own `reg add` stored entries with /reg:32
  and /reg:64: each build lists exactly its own view's, and the model and
  the Linux build read the same from the file the server saved.
- A 32-bit prefix: the 32-bit build lists its one Uninstall key exactly as
  the Linux build does, and the 64-bit build cannot start there.

Prefixes are made under LSINSTALLED_WINE_ROOT (or a temporary folder):
`base` as record_wine.py makes it, `base32` with WINEARCH=win32.  Random
hives with both views are random_hives.py --wow64.  Exits 1 on any
difference.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'hives'))
import record_wine  # noqa: E402

HDR = (b'WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine'
       b'\n\n#arch=win64\n\n')
U64 = b'Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall'
UNINSTALL = 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall'


def u32(wow=b'Wow6432Node', middle=b''):
    return (b'Software\\\\' + wow + b'\\\\Microsoft\\\\' + middle +
            b'Windows\\\\CurrentVersion\\\\Uninstall')


def sec(path, name=None, extra=b''):
    body = b'"DisplayName"="' + name + b'"\n' if name else b''
    return b'[' + path + b'] 1796626833\n' + extra + body + b'\n'


def link(target):
    return b'#link\n"SymbolicLinkValue"=hex(6):' + b','.join(
        b'%02x' % c for c in target.encode('utf-16-le')) + b'\n'


def listing(*names):
    return b''.join(n.encode() + b'\r\n' for n in names) + \
        b'%d items\r\n' % len(names)


NATIVE = sec(U64 + b'\\\\n', b'native')
CANNOT_OPEN = record_wine.CANNOT_OPEN

# What Wine 10 gives a 32-bit program, hive by hive.
CASES = {
    # Software has no Wow6432Node: the 32-bit view is the 64-bit one.
    'no_wow64_node': (NATIVE, listing('native')),
    # The usual layout, with Wow6432Node in any letter case.
    'wow64_node': (NATIVE + sec(u32() + b'\\\\w', b'32-bit'),
                   listing('32-bit')),
    'any_case': (NATIVE + sec(u32(b'wOW6432nODE') + b'\\\\w', b'case'),
                 listing('case')),
    # A 32-bit tree without an Uninstall key.
    'no_uninstall': (NATIVE + sec(b'Software\\\\Wow6432Node\\\\Other', b'x'),
                     CANNOT_OPEN),
    # Every key on the way is left for its Wow6432Node: HKLM's own, and
    # one below a key that was already redirected.
    'machine': (NATIVE + sec(b'Wow6432Node\\\\' + U64 + b'\\\\r', b'machine'),
                listing('machine')),
    'on_the_way': (NATIVE + sec(u32(middle=b'Wow6432Node\\\\') + b'\\\\x',
                                b'middle') + sec(u32() + b'\\\\y', b'passed'),
                   listing('middle')),
    'only_below': (NATIVE + sec(b'Software\\\\Microsoft\\\\Wow6432Node\\\\'
                                b'Windows\\\\CurrentVersion\\\\Uninstall\\\\q',
                                b'below Microsoft'),
                   listing('below Microsoft')),
    # The key finally opened too, once: the Uninstall key and an entry are
    # read from their Wow6432Node, an entry whose Wow6432Node has no name
    # is left out, and a Wow6432Node below that one is not looked at.
    'last_key': (NATIVE + sec(u32() + b'\\\\a', b'outer') +
                 sec(u32() + b'\\\\Wow6432Node\\\\e', b'parent') +
                 sec(u32() + b'\\\\Wow6432Node\\\\e\\\\WOW6432NODE', b'child') +
                 sec(u32() + b'\\\\Wow6432Node\\\\e\\\\WOW6432NODE\\\\'
                     b'Wow6432Node', b'grandchild') +
                 sec(u32() + b'\\\\Wow6432Node\\\\f', b'f parent') +
                 sec(u32() + b'\\\\Wow6432Node\\\\f\\\\Wow6432Node\\\\x',
                     b'f grandchild'),
                 listing('child')),
    # A link's target is taken as written; below it the rule goes on.
    'links': (NATIVE +
              sec(u32() + b'\\\\l',
                  extra=link('\\Registry\\Machine\\Software\\Target')) +
              sec(b'Software\\\\Target', b'64-bit target') +
              sec(b'Software\\\\Wow6432Node\\\\Target', b'32-bit target') +
              sec(u32() + b'\\\\m',
                  extra=link('\\Registry\\Machine\\Software\\T2')) +
              sec(b'Software\\\\T2', b'T2') +
              sec(b'Software\\\\T2\\\\Wow6432Node', b'T2 below'),
              listing('64-bit target', 'T2 below')),
    # A Wow6432Node that is a link is the key left for, not its target.
    'wow64_node_a_link': (NATIVE + sec(u32() + b'\\\\k', b'k itself') +
                          sec(u32() + b'\\\\k\\\\Wow6432Node', b'the link key',
                              extra=link('\\Registry\\Machine\\Software\\LT')) +
                          sec(b'Software\\\\LT', b'its target') +
                          sec(u32() + b'\\\\m', b'm itself') +
                          sec(u32() + b'\\\\m\\\\Wow6432Node', b'missing target',
                              extra=link('\\Registry\\Machine\\Software\\None')),
                          listing('missing target', 'the link key')),
    'shared_key': (NATIVE + sec(b'Software\\\\Wow6432Node\\\\Microsoft',
                                extra=link('\\Registry\\Machine\\Software\\'
                                           'Microsoft')),
                   listing('native')),
}

# Stored with Wine's own reg.exe: (key, view, name).
STORED = [('Launcher', '32', 'Game Launcher (32-bit)'),
          ('OldTool', '32', 'Old Tool 1.0'),
          ('Shared', '32', 'Shared (32-bit)'),
          ('Editor', '64', 'Editor (64-bit)'),
          ('Shared', '64', 'Shared (64-bit)')]


def wine_env(prefix, **more):
    return dict(os.environ, WINEPREFIX=prefix, WINEDEBUG='-all', **more)


def linux_run(program, hive):
    folder = tempfile.mkdtemp()
    shutil.copy(hive, os.path.join(folder, 'system.reg'))
    run = subprocess.run([program], stdout=subprocess.PIPE,
                         env=dict(os.environ, WINEPREFIX=folder), timeout=60)
    shutil.rmtree(folder)
    return run.returncode, run.stdout


def report(ok, what, *details):
    print(('same ' if ok else 'DIFFERENT ') + what, flush=True)
    if not ok:
        for detail in details:
            print('    %r' % (detail,))
    return not ok


def hand_written(args, root, base):
    failed = 0
    for name, (body, expected) in CASES.items():
        hive = os.path.join(root, name + '.reg')
        with open(hive, 'wb') as f:
            f.write(HDR + body)
        status, out, _ = record_wine.run_under_wine(
            args.exe32, base, hive, os.path.join(root, 'scratch'))
        _, model = linux_run(args.model, hive)
        failed += report(out == expected == model and
                         (status == 0) == (expected != CANNOT_OPEN),
                         'hive ' + name, expected, out, model)
    return failed


def stored_by_reg(args, root, base):
    prefix = os.path.join(root, 'stored')
    record_wine.scratch_prefix(base, os.path.join(base, 'system.reg'), prefix)
    env = wine_env(prefix)
    for key, view, name in STORED:
        subprocess.run(['wine', 'reg', 'add', UNINSTALL + '\\' + key, '/v',
                        'DisplayName', '/d', name, '/f', '/reg:' + view],
                       env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    outs = {}
    for view, exe in (('32', args.exe32), ('64', args.exe64)):
        run = subprocess.run(['wine', exe], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=120)
        outs[view] = run.stdout
    subprocess.run(['wineserver', '-k'], env=env)
    subprocess.run(['wineserver', '-w'], env=env)
    hive = os.path.join(prefix, 'system.reg')
    failed = 0
    for view, program in (('32', args.model), ('64', args.linux)):
        expected = listing(*sorted((n for _, v, n in STORED if v == view),
                                   key=str.lower))
        _, read = linux_run(program, hive)
        failed += report(outs[view] == expected == read,
                         'reg add /reg:%s, read by the %s-bit build and by %s'
                         % (view, view, os.path.basename(program)),
                         expected, outs[view], read)
    return failed


def win32_prefix(args, root):
    base = os.path.join(root, 'base32')
    if not os.path.exists(os.path.join(base, 'system.reg')):
        subprocess.run(['wine', 'wineboot', '-i'],
                       env=wine_env(base, WINEARCH='win32'),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True)
        subprocess.run(['wineserver', '-w'], env=wine_env(base), check=True)
    hive = os.path.join(root, 'win32.reg')
    with open(hive, 'wb') as f:
        f.write(HDR.replace(b'win64', b'win32') + CASES['wow64_node'][0])
    scratch = os.path.join(root, 'scratch')
    status, out, _ = record_wine.run_once(args.exe32, base, hive, scratch)
    linux_status, linux_out = linux_run(args.linux, hive)
    failed = report(out == linux_out and status == linux_status == 0,
                    'a 32-bit prefix, the 32-bit build against the Linux '
                    'build', linux_out, out)
    # Wine says so on standard output, with a failing status.
    status, out, _ = record_wine.run_once(args.exe64, base, hive, scratch)
    failed += report(status != 0 and b'items' not in out,
                     'a 32-bit prefix, where the 64-bit build cannot start',
                     status, out)
    return failed


def main():
    parser = argparse.ArgumentParser()
    for option in ('--exe32', '--exe64', '--linux', '--model'):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    for name in ('exe32', 'exe64', 'linux', 'model'):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    root = os.environ.get('LSINSTALLED_WINE_ROOT') or tempfile.mkdtemp()
    base = record_wine.base_prefix(root)
    work = tempfile.mkdtemp(dir=root)
    failed = hand_written(args, work, base)
    failed += stored_by_reg(args, work, base)
    failed += win32_prefix(args, work)
    shutil.rmtree(work, ignore_errors=True)
    print('%d differences' % failed)
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
