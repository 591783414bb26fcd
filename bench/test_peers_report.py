#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The peers' report on a console as the emulated PC leaves it: the figures among the kernel's
and the other programs' lines, and the table's rows."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peers_report  # noqa: E402

CONSOLE = """[    3.1] ferrox: loaded
-- peers: the parallel port's status
peers: {"abi": "x86_64", "group": "status", "method": "ferrox driver path", "ns": 2000.0, "ratio": 1.0}
peers: {"abi": "x86_64", "group": "status", "method": "ferrox direct path", "ns": 200.0, "ratio": 1.0}
peers: {"abi": "x86_64", "group": "status", "method": "/dev/port pread", "ns": 1500.0, "ratio": 1.0}
peers: {"abi": "x86_64", "group": "latency", "method": "ferrox OnHwInterrupt", "ns": 8000.0, "ratio": 1.0, \
"p99_ns": 9000.0, "samples": 3}
peers: {"abi": "x86_64", "group": "latency", "method": "ppdev poll", "ns": 6000.0, "ratio": 1.2, \
"p99_ns": 8000.0, "samples": 3}
[    4.2] parport0: PC-style at 0x378, irq 7 [PCSPP,TRISTATE]
peers: {"abi": "x86_64", "group": "status", "method": "ppdev PPRSTATUS", "ns": 3000.0, "ratio": 1.0}
peers x86_64: 12 passed, 0 failed
peers: {"abi": "i386", "group": "status", "method": "ferrox driver path", "ns": 4000.0, "ratio": 1.0}
peers: {"abi": "i386", "group": "status", "method": "ppdev PPRSTATUS", "ns": 3000.0, "ratio": 1.0}
"""


class PeersReportTest(unittest.TestCase):
    def setUp(self):
        with tempfile.NamedTemporaryFile("w", suffix=".log", delete=False, encoding="utf-8") as console:
            console.write(CONSOLE)
        self.addCleanup(os.unlink, console.name)
        self.figures = peers_report.read_console(console.name)

    def test_only_the_figures_are_read(self):
        self.assertEqual(len(self.figures), 8)
        self.assertEqual(self.figures[3]["p99_ns"], 9000.0)

    def test_rows_keep_the_groups_together_in_the_order_measured(self):
        abis, rows = peers_report.table(self.figures)
        self.assertEqual(abis, ["x86_64", "i386"])
        self.assertEqual([key for key in rows], [
            ("status", "ferrox driver path"), ("status", "ferrox direct path"), ("status", "/dev/port pread"),
            ("status", "ppdev PPRSTATUS"), ("latency", "ferrox OnHwInterrupt"), ("latency", "ppdev poll")])
        self.assertEqual(set(rows[("status", "ppdev PPRSTATUS")]), {"x86_64", "i386"})

    def test_each_peer_has_its_goal_and_whether_every_abi_met_it(self):
        _, rows = peers_report.table(self.figures)
        self.assertEqual(peers_report.goal("status", "ferrox driver path", rows), "")
        self.assertEqual(peers_report.goal("status", "ppdev PPRSTATUS", rows), "≥ 1.00×: met")
        self.figures[2]["ratio"] = 0.78
        self.assertEqual(peers_report.goal("status", "/dev/port pread", rows), "≥ 1.00×: not met (x86_64 0.78×)")
        # ferrox ahead on the median but behind on the 99th percentile: half the goal missed
        self.assertEqual(peers_report.goal("latency", "ppdev poll", rows), "≥ 1.00×, p99 ahead: not met (x86_64 p99)")


if __name__ == "__main__":
    unittest.main()
