#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""What a call costs from Python beside the same call from C++, on the virtual PC, in one run.

The C++ side is bench/timing_suite (Google Benchmark); the Python side a worker process with the
build's ferrox package and the virtual PC preloaded, timing the same operations on the same
machine the same way (processor time per call). The two take turns, round after round, and each
operation gets the median of its per-round ratios, so that a shared machine's changing load falls
on both sides of a ratio. The goals: a single call within about 1 µs of C++, a 4 KiB block within
a tenth of C++'s time; reported, never enforced."""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report  # noqa: E402
from text_table import format_ns, print_table  # noqa: E402

FRAME_BUFFER = 0xFD000000
BLOCK = 4096
# Python's operation, the C++ operation it is set beside, and the goal: extra nanoseconds per call
# for a single call, or the ratio for a block.
OPERATIONS = {
    "fGetPortB/driver": ("fGetPortB/driver", ("extra", 1000)),
    "read_port/driver": ("fGetPortB/driver", ("extra", 1000)),
    "ReadPortWFIFO/4KiB": ("ReadPortWFIFO/4KiB", ("ratio", 1.1)),
    "ReadPhysicalMemory/4KiB": ("ReadPhysicalMemory/4KiB", ("ratio", 1.1)),
}


def python_operations(pc):
    """Each operation as a call, set up as timing_suite sets up its C++ twin."""
    import numpy

    words = numpy.zeros(BLOCK // 2, numpy.uint16)
    block = bytearray(BLOCK)
    pc.fMapPhysToLinear(FRAME_BUFFER, 64 * 1024)
    return {
        "fGetPortB/driver": lambda: pc.fGetPortB(0x379),
        "read_port/driver": lambda: pc.read_port(0x379),
        "ReadPortWFIFO/4KiB": lambda: pc.ReadPortWFIFO(0x300, BLOCK // 2, words),
        "ReadPhysicalMemory/4KiB": lambda: pc.ReadPhysicalMemory(FRAME_BUFFER, 0, BLOCK, block),
    }


def time_call(call, min_time):
    """Processor nanoseconds per call, over at least min_time seconds."""
    call()
    calls = 1
    while True:
        started = time.process_time_ns()
        for _ in range(calls):
            call()
        spent = time.process_time_ns() - started
        if spent >= min_time * 1e9:
            return spent / calls
        calls *= 10 if spent < min_time * 1e8 else 2


def worker(min_time):
    import ferrox

    with ferrox.Ferrox32() as pc:
        print(json.dumps({name: time_call(call, min_time) for name, call in python_operations(pc).items()}))


def python_timings(build, min_time):
    environment = dict(os.environ)
    environment["PYTHONPATH"] = os.path.join(build, "python")
    environment["LD_PRELOAD"] = os.path.join(build, "lib", "libferrox-vpc.so.0")
    run = subprocess.run(["/usr/bin/python3", os.path.abspath(__file__), "--worker", "--min-time", str(min_time)],
                         env=environment, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit("python_cost: the Python worker failed:\n" + run.stderr[-2000:])
    return json.loads(run.stdout)


def verdict(goal, cpp, python):
    kind, limit = goal
    if kind == "extra":
        return "%s more, goal about %s: %s" % (format_ns(python - cpp), format_ns(limit),
                                                "met" if python - cpp <= limit else "not met")
    return "goal within %.0f%%: %s" % ((limit - 1) * 100, "met" if python / cpp <= limit else "not met")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/x86_64", help="the x86_64 build tree")
    parser.add_argument("--rounds", type=int, default=5, help="turns of C++ and Python")
    parser.add_argument("--min-time", type=float, default=0.2, help="seconds per timed operation")
    parser.add_argument("--json", help="where to write the results")
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        return worker(args.min_time)

    suite = os.path.join(args.build, "bench", "timing_suite")
    cpp_names = sorted({cpp for cpp, _ in OPERATIONS.values()})
    ratios = {name: [] for name in OPERATIONS}
    last = {}
    for _ in range(args.rounds):
        cpp = report.timings(suite, args.min_time, cpp_names)
        python = python_timings(args.build, args.min_time)
        for name, (twin, _) in OPERATIONS.items():
            ratios[name].append(python[name] / cpp[twin])
            last[name] = (cpp[twin], python[name])
    rows, result = [], {}
    for name, (twin, goal) in OPERATIONS.items():
        ratio = statistics.median(ratios[name])
        cpp, _ = last[name]
        result[name] = {"cpp_operation": twin, "ratio": ratio, "rounds": ratios[name]}
        rows.append([name, twin, "%.2f×" % ratio, verdict(goal, cpp, cpp * ratio)])
    print_table("From Python beside C++, on the virtual PC (processor time, median of %d rounds)" % args.rounds,
                ["Python", "C++", "Python / C++", ""], rows, left_columns=2)
    if args.json:
        with open(args.json, "w", encoding="utf-8") as out:
            json.dump(result, out, indent=1)
            out.write("\n")


if __name__ == "__main__":
    main()
