#!/usr/bin/env python3
"""Shows the listing of names that hold control sequences on a terminal, as
a person sees it: each build runs in a tmux pane, and the pane's screen and
title are read back.  A name must neither retitle the window, nor erase or
overwrite a line, nor hide an entry that the count line counts.

    tests/wine/terminal.py --exe lsinstalled.exe --linux lsinstalled \\
        --prefix BASE_PREFIX

The hive is tests/hives/control_characters.reg.  The Windows build runs
under Wine, which gives a program started on a Unix terminal a console; the
Linux build reads the same file directly.  Exits 1 on any difference.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'hives'))
import record_wine  # noqa: E402
HIVE = os.path.join(HERE, '..', 'hives', 'control_characters.reg')

# The screen of the Linux build: every control a '?', other text whole.
LINUX_SCREEN = [
    'Bell?Back?Del?Tab?',
    'Café',
    'Csi?2J',
    'Erase?[1A?[2K',
    'Over?write',
    'Same?',
    'Same?',
    'Title?]0;pwned?',
    'Two??lines',
    '日本語',
    '10 items',
]

# Wine's console reports code page 437, and the C runtime's writes reach
# the Unix terminal with each byte as the character of the same number:
# UTF-8 shows as Latin-1, and every byte 0x80..0x9F, which would arrive as
# a C1 control, is written as '?'.
WINE_SCREEN = LINUX_SCREEN[:]
WINE_SCREEN[1] = 'CafÃ©'
WINE_SCREEN[2] = 'CsiÂ?2J'
WINE_SCREEN[9] = 'æ?¥æ?¬èª?'

TITLE = 'lsinstalled-terminal-test'


def tmux(*args, check=True):
    return subprocess.run(['tmux', '-L', 'lsinstalled-test', '-f', '/dev/null',
                           *args], check=check, capture_output=True,
                          text=True).stdout


def screen_of(command, env):
    """Runs `command` in a fresh 100x30 pane and returns its screen lines
    up to the status line, the status, and the pane's title."""
    tmux('kill-server', check=False)
    shell = ' '.join(command) + '; echo status=$?; sleep 600'
    tmux('new-session', '-d', '-s', 'run', '-x', '100', '-y', '30',
         '-e', 'TERM=xterm-256color',
         *(a for name, value in env.items() for a in ('-e', f'{name}={value}')),
         'sh', '-c', f"printf '\\033]2;{TITLE}\\007'; {shell}")
    deadline = time.monotonic() + 120
    lines = []
    while time.monotonic() < deadline:
        lines = tmux('capture-pane', '-p', '-t', 'run').split('\n')
        if any(line.startswith('status=') for line in lines):
            break
        time.sleep(0.5)
    title = tmux('display-message', '-p', '-t', 'run', '#{pane_title}').strip()
    tmux('kill-server', check=False)
    end = next(i for i, line in enumerate(lines) if line.startswith('status='))
    return [line.rstrip() for line in lines[:end]], lines[end], title


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', required=True)
    parser.add_argument('--linux', required=True)
    parser.add_argument('--prefix', required=True)
    args = parser.parse_args()
    root = tempfile.mkdtemp(prefix='lsinstalled-terminal.')
    prefix = os.path.join(root, 'prefix')
    record_wine.scratch_prefix(os.path.abspath(args.prefix), HIVE, prefix)
    env = {'WINEPREFIX': prefix, 'WINEDEBUG': '-all'}
    failed = False
    for name, command, expected in [
            ('Linux', [os.path.abspath(args.linux)], LINUX_SCREEN),
            ('Wine', ['wine', os.path.abspath(args.exe), '2>/dev/null'],
             WINE_SCREEN)]:
        lines, status, title = screen_of(command, env)
        ok = lines == expected and status == 'status=0' and title == TITLE
        failed |= not ok
        print(f'{name}: {"same" if ok else "DIFFERENT"} screen, {status}, '
              f'title {title!r}')
        if not ok:
            for line in lines:
                print('    |' + line)
    subprocess.run(['wineserver', '-k'], env=dict(os.environ, **env),
                   stderr=subprocess.DEVNULL)
    shutil.rmtree(root, ignore_errors=True)
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
