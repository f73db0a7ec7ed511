#!/usr/bin/env python3
"""Records what the Windows build prints under Wine for each hive here, as
NAME.expected: a line "status N", then the exact bytes of standard output.

    tests/hives/record_wine.py build/windows/lsinstalled.exe [--check] [NAME...]

Each hive becomes the whole system.reg of a scratch prefix (sharing the drive
of a base prefix made once with wineboot), written while no server runs.
Where Wine refuses the file whole, the 64-bit program cannot even start; the
expectation is then the program's own answer to a registry without the key:
the "Cannot open" message with status 1.  --check compares instead of
writing and exits 1 on any difference.
"""

import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CANNOT_OPEN = (b'Cannot open HKLM\\SOFTWARE\\Microsoft\\Windows\\'
               b'CurrentVersion\\Uninstall\r\n')


def wine_env(prefix):
    return dict(os.environ, WINEPREFIX=prefix, WINEDEBUG='-all')


def base_prefix(root):
    base = os.path.join(root, 'base')
    if not os.path.exists(os.path.join(base, 'system.reg')):
        subprocess.run(['wine', 'wineboot', '-i'], env=wine_env(base),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True)
        subprocess.run(['wineserver', '-w'], env=wine_env(base), check=True)
    return base


def run_under_wine(exe, base, hive, scratch):
    """Wine that starts nothing gives no output and a failing status; on a
    loaded machine that happens now and then to a file it reads well, so
    such a run is tried once more before the file counts as refused."""
    for _ in range(2):
        status, out, refused = run_once(exe, base, hive, scratch)
        if not refused:
            break
    return status, out, refused


def scratch_prefix(base, hive, scratch):
    """A prefix in `scratch` that shares the drive of `base` and has `hive`
    as its system.reg."""
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    os.symlink(os.path.join(base, 'drive_c'), os.path.join(scratch, 'drive_c'))
    shutil.copytree(os.path.join(base, 'dosdevices'),
                    os.path.join(scratch, 'dosdevices'), symlinks=True)
    for name in ('user.reg', 'userdef.reg', '.update-timestamp'):
        shutil.copy(os.path.join(base, name), scratch)
    shutil.copy(hive, os.path.join(scratch, 'system.reg'))


def run_once(exe, base, hive, scratch):
    scratch_prefix(base, hive, scratch)
    env = wine_env(scratch)
    run = subprocess.run(['wine', exe], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, cwd=scratch, timeout=120)
    subprocess.run(['wineserver', '-k'], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(['wineserver', '-w'], env=env)
    if run.returncode != 0 and not run.stdout:
        return 1, CANNOT_OPEN, True
    return run.returncode, run.stdout, False


def main():
    args = [a for a in sys.argv[1:] if not a.startswith('--')]
    check = '--check' in sys.argv
    exe, names = os.path.abspath(args[0]), args[1:]
    if not names:
        names = sorted(f[:-4] for f in os.listdir(HERE) if f.endswith('.reg'))
    root = os.environ.get('LSINSTALLED_WINE_ROOT') or tempfile.mkdtemp()
    base = base_prefix(root)
    differences = 0
    for name in names:
        status, out, refused = run_under_wine(
            exe, base, os.path.join(HERE, name + '.reg'),
            os.path.join(root, 'scratch'))
        expected = b'status %d\n' % status + out
        path = os.path.join(HERE, name + '.expected')
        if check:
            with open(path, 'rb') as f:
                same = f.read() == expected
            differences += not same
            print('same' if same else 'DIFFERENT', name)
        else:
            with open(path, 'wb') as f:
                f.write(expected)
            print(name, 'status', status, '(Wine refused the file)' if refused else '')
    sys.exit(1 if differences else 0)


if __name__ == '__main__':
    main()
