#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""irq_counter: counts the interrupts of one IRQ line with asyncio, a line a second,
while the event loop stays free for other work.

Run:  ./irq_counter.py [LINE [SECONDS]]                 line 7 (LPT1's) for 3 s by default
      LD_PRELOAD=libferrox-vpc.so.0 ./irq_counter.py 0   the virtual PC's timer, 18.2 a second
"""

import argparse
import asyncio
import sys

import ferrox


async def count(pc, line: int, seconds: float) -> int:
    total = 0
    with pc.interrupts(line) as events:
        loop = asyncio.get_running_loop()
        end = loop.time() + seconds
        while (left := end - loop.time()) > 0:
            in_this_second = 0
            second_end = loop.time() + min(1.0, left)
            events.timeout = max(0.0, second_end - loop.time())
            async for _ in events:     # ends when a wait passes the end of the second
                in_this_second += 1
                events.timeout = max(0.0, second_end - loop.time())
            total += in_this_second
            print(f"IRQ {line}: {in_this_second} in this second, {total} in all")
        if events.lost:
            print(f"IRQ {line}: {events.lost} lost (nobody read in time)")
    return total


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("line", type=int, nargs="?", default=7, help="the IRQ line, 0..15")
    parser.add_argument("seconds", type=float, nargs="?", default=3.0, help="how long to count")
    arguments = parser.parse_args()
    try:
        with ferrox.Ferrox32() as pc:
            total = asyncio.run(count(pc, arguments.line, arguments.seconds))
            print(f"IRQ {arguments.line}: {total} interrupts in {arguments.seconds:g} s "
                  f"(the component handled {pc.GetHandledCounter(arguments.line)})")
    except (OSError, ValueError) as error:
        print(f"irq_counter: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
