#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""trigger: an experiment trigger on the parallel port: a byte on LPT1's data lines and
a strobe, COUNT times, every INTERVAL seconds, each with the time it went out and how
late it was against its schedule.

Run:  ./trigger.py [--byte 0x41] [--count 5] [--interval 0.1]
      LD_PRELOAD=libferrox-vpc.so.0 ./trigger.py      on the virtual PC: its printer takes the bytes
"""

import argparse
import sys
import time

import ferrox


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--byte", type=lambda text: int(text, 0), default=0x41, help="the byte on the data lines")
    parser.add_argument("--count", type=int, default=5, help="how many triggers")
    parser.add_argument("--interval", type=float, default=0.1, help="seconds from one trigger to the next")
    arguments = parser.parse_args()
    try:
        with ferrox.Ferrox32() as pc:
            start = time.monotonic()
            for number in range(arguments.count):
                planned = start + number * arguments.interval
                time.sleep(max(0.0, planned - time.monotonic()))
                went = time.monotonic()
                pc.send(arguments.byte)   # the data lines, then the strobe
                print(f"trigger {number + 1}: {arguments.byte:#04x} at {went - start:.4f} s, "
                      f"{(went - planned) * 1e6:.0f} us late")
    except (OSError, ValueError) as error:
        print(f"trigger: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
