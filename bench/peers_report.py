#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The peer benchmarks of the emulated PC as one table: the lines "peers: {json}" that the guest
program e2e/guest/peers printed on the console, grouped, each method's time with its ratio to
ferrox's in the same group and ABI (the driver path where ferrox has two), which the guest took
round by round so that the host's changing load falls on both sides of it alike. Writes them as
JSON too.

QEMU's software emulation is not real hardware: the ratios hold for this emulated PC in this
run, and the absolute times say more about the host than about either program."""

import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from text_table import format_ns, print_table  # noqa: E402

PREFIX = "peers: {"


def read_console(path):
    """The figures, in the order the guest printed them."""
    figures = []
    with open(path, encoding="utf-8", errors="replace") as console:
        for line in console:
            start = line.find(PREFIX)
            if start >= 0:
                figures.append(json.loads(line[start + len(PREFIX) - 1:]))
    return figures


def table(figures):
    """Rows of group, method and, per ABI, the figure; groups and ABIs in the order they ran."""
    abis = list(dict.fromkeys(figure["abi"] for figure in figures))
    groups = list(dict.fromkeys(figure["group"] for figure in figures))
    rows = {}
    for figure in sorted(figures, key=lambda figure: groups.index(figure["group"])):
        rows.setdefault((figure["group"], figure["method"]), {})[figure["abi"]] = figure
    return abis, rows


def cell(figure):
    if figure is None:
        return ""
    text = "%s (%.2f×)" % (format_ns(figure["ns"]), figure["ratio"])
    if "p99_ns" in figure:
        text += ", p99 %s" % format_ns(figure["p99_ns"])
    return text


def is_ferrox(method):
    return method.startswith("ferrox")


def goal(group, method, rows):
    """Every peer's ratio at 1.0 or more on every ABI (ferrox as fast or faster), and for a latency
    ferrox's 99th percentile ahead of the peer's too; ferrox's own rows are the reference."""
    if is_ferrox(method):
        return ""
    per_abi = rows[(group, method)]
    ours = next((figures for (other_group, other), figures in rows.items()
                 if other_group == group and is_ferrox(other)), {})
    missed = ["%s %.2f×" % (abi, figure["ratio"]) for abi, figure in per_abi.items() if figure["ratio"] < 1.0]
    text = "≥ 1.00×"
    if any("p99_ns" in figure for figure in per_abi.values()):
        text += ", p99 ahead"
        missed += ["%s p99" % abi for abi, figure in per_abi.items()
                   if abi in ours and "p99_ns" in figure and ours[abi].get("p99_ns", 0) > figure["p99_ns"]]
    return text + (": not met (%s)" % ", ".join(missed) if missed else ": met")


def print_figures(figures):
    abis, rows = table(figures)
    lines = [[group, method] + [cell(per_abi.get(abi)) for abi in abis] + [goal(group, method, rows)]
             for (group, method), per_abi in rows.items()]
    print_table("The library beside its peers in the emulated PC (one run; time per call, ratio to ferrox)",
                ["group", "method"] + abis + ["goal"], lines, left_columns=2)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("console", help="the emulated PC's console log (build/e2e/run/console.log)")
    parser.add_argument("--json", help="where to write the figures")
    args = parser.parse_args()
    figures = read_console(args.console)
    if not figures:
        sys.exit("peers_report: no peer figures in %s" % args.console)
    print_figures(figures)
    if args.json:
        os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
        with open(args.json, "w", encoding="utf-8") as out:
            json.dump({"figures": figures}, out, indent=1)
            out.write("\n")


if __name__ == "__main__":
    main()
