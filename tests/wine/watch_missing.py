#!/usr/bin/env python3
"""Watches whether a file exists, as often as it can, until a second file appears.

usage: watch_missing.py PATH STOP

Prints "polls N missing N times" once STOP exists: how often PATH was looked at, and how many
times it was found missing (a run of looks that found nothing counts once). Exit status 0 when
PATH was never missing and was looked at, 1 otherwise.
"""

import os
import sys


def main():
    path, stop = sys.argv[1], sys.argv[2]
    polls = times = 0
    missing = False
    while polls % 1024 or not os.path.exists(stop):
        polls += 1
        try:
            os.stat(path)
            missing = False
        except FileNotFoundError:
            times += 0 if missing else 1
            missing = True
    print("polls %d missing %d times" % (polls, times))
    return 0 if polls and times == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
