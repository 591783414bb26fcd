#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The benchmarks' results as they are kept with the sources: the JSON of make bench and make
bench-peers copied to bench/results/, the chart of the peers drawn from it (bench/results/peers.png),
and the README's tables between its markers rewritten from it."""

import argparse
import json
import os
import shutil

import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peers_report import goal, table  # noqa: E402
from text_table import format_ns  # noqa: E402

BEGIN, END = "<!-- bench:begin -->", "<!-- bench:end -->"
# The operations the README lists; make bench prints every one.
README_OPERATIONS = [
    "fGetPortB/driver", "fGetPortB/direct", "fSetPortB/driver", "fSetPortB/direct", "fGetPortL/driver",
    "ReadPortWFIFO/4KiB", "fGetMemW", "ReadPhysicalMemory/4KiB", "PciDeviceInfo", "PciGetDword",
    "UnmaskInterrupt+MaskInterrupt", "OnHwInterrupt/delivery", "fGetPin", "OpenDriver+CloseDriver",
]


def library_table(virtual_pc):
    abis = list(virtual_pc["instructions"])
    lines = ["The library's own instructions per call, beyond the request or port instruction it exists for "
             "(`make bench` lists every operation):", "",
             "| operation | " + " | ".join("instructions, %s" % abi for abi in abis) + " | goal (x86_64) |",
             "|---|" + "---:|" * len(abis) + "---|"]
    for name in README_OPERATIONS:
        goal = virtual_pc["goals"].get(name)
        verdict = ""
        if goal is not None:
            verdict = "≤ %d, %s" % (goal, "met" if virtual_pc["instructions"][abis[0]][name] <= goal else "not met")
        counts = " | ".join(str(virtual_pc["instructions"][abi].get(name, "")) for abi in abis)
        lines.append("| `%s` | %s | %s |" % (name, counts, verdict))
    lines += ["", "| the virtual PC's own work, per request | " + " | ".join(abis) + " | goal (x86_64) |",
              "|---|" + "---:|" * len(abis) + "---|"]
    for figure, count in virtual_pc["virtual_pc"][abis[0]].items():
        counts = " | ".join(str(virtual_pc["virtual_pc"][abi].get(figure, "")) for abi in abis)
        goal = virtual_pc["virtual_pc_goals"][figure]
        lines.append("| %s | %s | ≤ %d, %s |" % (figure, counts, goal, "met" if count <= goal else "not met"))
    return lines


def peers_table(peers):
    abis, rows = table(peers["figures"])
    lines = ["Beside its peers in the emulated PC, one run: time per call (for interrupts, the latency's "
             "median and 99th percentile) and, in bold, its ratio to ferrox's:", "",
             "| | method | " + " | ".join(abis) + " | goal |", "|---|---|" + "---:|" * len(abis) + "---|"]
    previous = None
    for (group, method), per_abi in rows.items():
        cells = []
        for abi in abis:
            figure = per_abi.get(abi)
            if figure is None:
                cells.append("")
                continue
            text = "%s, **%.2f×**" % (format_ns(figure["ns"]), figure["ratio"])
            if "p99_ns" in figure:
                text += " (p99 %s)" % format_ns(figure["p99_ns"])
            cells.append(text)
        lines.append("| %s | %s | %s | %s |" % (group if group != previous else "", method, " | ".join(cells),
                                                goal(group, method, rows)))
        previous = group
    return lines


def draw_chart(peers, path):
    """Each method's time as a multiple of ferrox's in its group, per ABI, on a log scale."""
    abis, rows = table(peers["figures"])
    rows = list(rows.items())
    figure, axes = plt.subplots(figsize=(9, 0.42 * len(rows) + 1.6))
    height = 0.8 / len(abis)
    for index, abi in enumerate(abis):
        ratios = [per_abi[abi]["ratio"] if abi in per_abi else 1 for _, per_abi in rows]
        positions = [row + index * height for row in range(len(rows))]
        # From ferrox's 1 to the method's ratio: left is faster than ferrox, right slower.
        axes.barh(positions, [ratio - 1 for ratio in ratios], height=height, label=abi, left=1)
    axes.set_yticks([row + height * (len(abis) - 1) / 2 for row in range(len(rows))])
    axes.set_yticklabels(["%s: %s" % (group, method) for (group, method), _ in rows], fontsize=8)
    axes.invert_yaxis()
    axes.set_xscale("log")
    axes.axvline(1, color="black", linewidth=0.8)
    axes.set_xlabel("time per call (interrupts: median latency) as a multiple of ferrox's in its group;\n"
                    "left of 1 is faster than ferrox, right of it slower")
    axes.set_title("ferrox and its peers in the emulated PC (QEMU, software emulation; one run)", fontsize=10)
    axes.legend(loc="upper right")
    figure.tight_layout()
    figure.savefig(path, dpi=100)


def rewrite_readme(path, lines):
    with open(path, encoding="utf-8") as readme:
        text = readme.read()
    start, end = text.index(BEGIN) + len(BEGIN), text.index(END)
    with open(path, "w", encoding="utf-8") as readme:
        readme.write(text[:start] + "\n" + "\n".join(lines) + "\n" + text[end:])


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("virtual_pc", help="the JSON of make bench")
    parser.add_argument("peers", help="the JSON of make bench-peers")
    parser.add_argument("--results", required=True, help="the folder kept with the sources")
    parser.add_argument("--readme", required=True)
    args = parser.parse_args()
    os.makedirs(args.results, exist_ok=True)
    shutil.copy(args.virtual_pc, os.path.join(args.results, "virtual-pc.json"))
    shutil.copy(args.peers, os.path.join(args.results, "peers.json"))
    with open(args.virtual_pc, encoding="utf-8") as file:
        virtual_pc = json.load(file)
    with open(args.peers, encoding="utf-8") as file:
        peers = json.load(file)
    draw_chart(peers, os.path.join(args.results, "peers.png"))
    rewrite_readme(args.readme, library_table(virtual_pc) + [""] + peers_table(peers) + [
        "", "![ferrox beside its peers](bench/results/peers.png)"])


if __name__ == "__main__":
    main()
