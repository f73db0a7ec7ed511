#!/usr/bin/env python3
"""Times builds of lsinstalled against each other, paired: every round runs
each command once, in an order reversed every other round, so that a slower
or busier stretch of the machine falls on all of them alike.  Prints the
median wall time of each and its ratio to the first.

    bench/paired.py PREFIX ROUNDS NAME=COMMAND [NAME=COMMAND ...]

PREFIX is the Wine prefix every command reads (WINEPREFIX), a hive from
bench/make_hive.py in it.  A COMMAND is split at spaces.  Ten rounds of
warm-up come first and are not counted; every output goes to a pipe.
"""

import os
import statistics
import subprocess
import sys
import time


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    prefix, rounds = sys.argv[1], int(sys.argv[2])
    commands = [argument.split('=', 1) for argument in sys.argv[3:]]
    env = dict(os.environ, WINEPREFIX=prefix)
    times = {name: [] for name, _ in commands}
    for round_number in range(rounds + 10):
        order = commands if round_number % 2 == 0 else commands[::-1]
        for name, command in order:
            started = time.perf_counter()
            subprocess.run(command.split(), env=env, stdout=subprocess.PIPE,
                           check=False)
            if round_number >= 10:
                times[name].append(time.perf_counter() - started)
    first = statistics.median(times[commands[0][0]])
    for name, _ in commands:
        median = statistics.median(times[name])
        print('%-12s %7.2f ms  %5.2f' % (name, median * 1000, median / first))


if __name__ == '__main__':
    main()
