#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The library's benchmarks on the virtual PC, as one table.

For each ABI build given, runs bench/instruction_count under callgrind and counts, per call of
each operation:
  - the library's own instructions: those executed in libferrox itself (its procedure linkage
    stubs into the C library included), which is everything beyond the request or the port
    instruction that the operation exists for, and does not depend on the virtual PC;
  - for the virtual PC's figures: a port request from the library's ioctl call to its return,
    and a 4 KiB window read the same way, less the instructions of the copies.
With the x86_64 build it also runs the Google Benchmark suite (bench/timing_suite) for the time
per call on the virtual PC. Prints the tables and writes them as JSON.

--check fails when an instruction goal of the library is not met on x86_64; the virtual PC's
goals are reported, never enforced here."""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import callgrind_dump  # noqa: E402
from text_table import format_ns, print_table  # noqa: E402

# The virtual PC's figures: the operation whose requests are counted, the goal, and whether the
# copies of the data are left out of the count.
VIRTUAL_PC_FIGURES = {
    "port request": ("fGetPortB/driver", 300, False),
    "4 KiB window read, beyond the copies": ("fReadMappedMemory/4KiB", 300, True),
}
REQUEST_FUNCTIONS = {"ioctl", "__ioctl_time64"}  # what glibc's ioctl is called with 64-bit time
# The ABI the goals are set for. i386 pays its calling convention (arguments on the stack) and
# its position-independent code (the GOT's address from a thunk, in each function that reaches
# the module's records) on top; its figures are shown beside them.
GOAL_ABI = "x86_64"


def callgrind(binary, calls, names, work):
    """One valgrind run of the instruction-count program; its dumps, by operation."""
    prefix = os.path.join(work, os.path.basename(os.path.dirname(os.path.dirname(binary))))
    # One instruction per translated block: otherwise, when the virtual PC's trap handler carries
    # out a port instruction, callgrind counts the instructions after it in its block twice.
    command = ["valgrind", "--tool=callgrind", "--vex-guest-max-insns=1",
               "--callgrind-out-file=" + prefix, binary, "--calls", str(calls)] + names
    run = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if run.returncode != 0:
        sys.exit("report: %s failed:\n%s" % (" ".join(command), run.stderr[-2000:]))
    return {dump.name: dump for dump in callgrind_dump.read_dumps(work, os.path.basename(prefix))}


def per_call(total, calls):
    value = total / calls
    return round(value) if abs(value - round(value)) < 0.05 else round(value, 1)


def count_instructions(dumps, calls):
    library = {name: per_call(callgrind_dump.own_instructions(dump, callgrind_dump.is_library), calls)
               for name, dump in dumps.items()}
    virtual_pc = {}
    for figure, (operation, _, without_copies) in VIRTUAL_PC_FIGURES.items():
        dump = dumps.get(operation)
        if dump is None:
            continue
        requests, inclusive = callgrind_dump.call_instructions(dump, callgrind_dump.is_library, REQUEST_FUNCTIONS)
        if requests == 0:
            continue
        if without_copies:
            inclusive -= callgrind_dump.copy_instructions(dump)
        virtual_pc[figure] = per_call(inclusive, requests)
    return library, virtual_pc


def timings(binary, min_time, names):
    """Processor time per call of each operation in nanoseconds, from Google Benchmark's JSON: the
    processor time, because the wall-clock time of a shared build machine swells with its load."""
    command = [binary, "--benchmark_min_time=%g" % min_time, "--benchmark_out_format=json"]
    if names:
        command.append("--benchmark_filter=^(%s)$" % "|".join(re.escape(name) for name in names))
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        run = subprocess.run(command + ["--benchmark_out=" + out.name], capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit("report: %s failed:\n%s" % (" ".join(command), (run.stdout + run.stderr)[-2000:]))
        runs = json.load(out)["benchmarks"]
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
    return {run["name"]: run["cpu_time"] * scale[run["time_unit"]] for run in runs}


def goal_verdict(value, goal):
    """On the goal's ABI, the first build."""
    if goal is None or value is None:
        return ""
    return "goal met" if value <= goal else "not met"


def print_tables(result, abis):
    goals = result["goals"]
    header = ["operation"] + ["instr. %s" % abi for abi in abis] + ["goal", "", "time (virtual PC)"]
    rows = []
    for name in result["operations"]:
        counts = [result["instructions"][abi].get(name) for abi in abis]
        goal = goals.get(name)
        rows.append([name] + ["" if c is None else str(c) for c in counts]
                    + ["<= %d" % goal if goal else "", goal_verdict(counts[0], goal),
                       format_ns(result["timings_ns"].get(name))])
    print_table("The library's own instructions per call (beyond its request or port instruction)", header, rows)
    header = ["the virtual PC's own work"] + ["instr. %s" % abi for abi in abis] + ["goal", ""]
    rows = []
    for figure, (_, goal, _) in VIRTUAL_PC_FIGURES.items():
        counts = [result["virtual_pc"][abi].get(figure) for abi in abis]
        rows.append([figure] + ["" if c is None else str(c) for c in counts]
                    + ["<= %d" % goal, goal_verdict(counts[0], goal)])
    print_table("The virtual PC per request, from the library's ioctl call to its return", header, rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", action="append", default=[], metavar="ABI=DIR",
                        help="a build tree and its ABI, x86_64=build/x86_64 (x86_64 first)")
    parser.add_argument("--calls", type=int, default=20, help="calls counted per operation")
    parser.add_argument("--min-time", type=float, default=0.2, help="seconds per timed operation")
    parser.add_argument("--no-timings", action="store_true", help="count instructions only")
    parser.add_argument("--check", action="store_true", help="fail when a library goal is not met")
    parser.add_argument("--json", help="where to write the results")
    parser.add_argument("operations", nargs="*", help="only these operations")
    args = parser.parse_args()
    builds = [build.split("=", 1) for build in args.build]
    if not builds:
        parser.error("no --build given")

    result = {"instructions": {}, "virtual_pc": {}, "timings_ns": {}, "goals": {}, "operations": [],
              "virtual_pc_goals": {figure: goal for figure, (_, goal, _) in VIRTUAL_PC_FIGURES.items()}}
    with tempfile.TemporaryDirectory() as work:
        for abi, directory in builds:
            dumps = callgrind(os.path.join(directory, "bench", "instruction_count"), args.calls,
                              args.operations, work)
            result["instructions"][abi], result["virtual_pc"][abi] = count_instructions(dumps, args.calls)
            if not result["operations"]:
                result["operations"] = list(dumps)
    abi, directory = builds[0]
    timing_suite = os.path.join(directory, "bench", "timing_suite")
    if not args.no_timings and os.path.exists(timing_suite):
        result["timings_ns"] = timings(timing_suite, args.min_time, args.operations)
    goals = json.loads(subprocess.run([os.path.join(directory, "bench", "instruction_count"), "--goals"],
                                      check=True, capture_output=True, text=True).stdout)
    result["goals"] = {name: goal for name, goal in goals.items() if name in result["operations"]}

    print_tables(result, [abi for abi, _ in builds])
    if args.json:
        os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
        with open(args.json, "w", encoding="utf-8") as out:
            json.dump(result, out, indent=1)
            out.write("\n")
    missed = [(abi, name) for abi, _ in builds if abi == GOAL_ABI for name, goal in result["goals"].items()
              if result["instructions"][abi].get(name, 0) > goal]
    if args.check and missed:
        sys.exit("report: instruction goals not met: " + ", ".join("%s on %s" % (n, a) for a, n in missed))


if __name__ == "__main__":
    main()
