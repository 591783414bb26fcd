#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The reader of callgrind's dumps on a small dump written as callgrind writes them: names given
once and then referred to by number, inlined code under fi=/fe=, and a call's cost on the line
after its calls= line, which belongs to the call and not to the caller's own count."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import callgrind_dump  # noqa: E402

DUMP = """# callgrind format
version: 1
creator: callgrind-3.19.0
pid: 4242
cmd:  ./instruction_count --calls 10
part: 3

desc: I1 cache:
desc: Timerange: Basic block 100 - 200
desc: Trigger: Client Request: fGetPortB/driver
positions: line
events: Ir
summary: 9999

ob=(1) /build/component/libferrox.so.0.1.0
fl=(1) /src/component/ports.cpp
fn=(1) ferrox::TFerrox32::fGetPortB(unsigned short)
60 70
cob=(2) /build/vpc/libferrox-vpc.so.0.1.0
cfi=(2) /src/vpc/kernel/interposer.cpp
cfn=(2) ioctl
calls=10 131
+2 18000
fi=(3) /src/component/PortIo.h
12 20
fe=(1)
+3 170
ob=(2)
fl=(2)
fn=(2)
131 600
cfn=(3) __memcpy_avx_unaligned_erms
calls=10 0
* 4000
cfn=(5) vpc_copy_bytes
calls=10 0
* 2000
fn=(3)
0 4000
fn=(5)
0 2000
ob=(3) /build/bench/instruction_count
fl=(4) /src/bench/instruction_count.cpp
fn=(4) main
20 45
cob=(1)
cfn=(1)
calls=10 60
20 18260
"""


class CallgrindDumpTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        for part, text in (("1", DUMP.replace("Client Request: fGetPortB/driver", "Client Request")),
                           ("2", DUMP), ("10", DUMP.replace("fGetPortB/driver", "later"))):
            with open(os.path.join(self.directory.name, "x86_64." + part), "w", encoding="utf-8") as dump:
                dump.write(text)
        with open(os.path.join(self.directory.name, "x86_64"), "w", encoding="utf-8") as dump:
            dump.write(DUMP.replace("Client Request: fGetPortB/driver", "Program termination"))
        self.dumps = callgrind_dump.read_dumps(self.directory.name, "x86_64")

    def tearDown(self):
        self.directory.cleanup()

    def test_only_named_dumps_in_the_order_written(self):
        self.assertEqual([dump.name for dump in self.dumps], ["fGetPortB/driver", "later"])

    def test_own_instructions_leave_out_what_calls_cost(self):
        dump = self.dumps[0]
        self.assertEqual(callgrind_dump.own_instructions(dump, callgrind_dump.is_library), 70 + 20 + 170)
        self.assertEqual(dump.own[("/build/vpc/libferrox-vpc.so.0.1.0", "ioctl")], 600)

    def test_calls_from_the_library_with_what_they_cost_in_all(self):
        dump = self.dumps[0]
        self.assertEqual(callgrind_dump.call_instructions(dump, callgrind_dump.is_library, {"ioctl"}), (10, 18000))
        self.assertEqual(callgrind_dump.copy_instructions(dump), 4000 + 2000)

    def test_the_virtual_pc_is_not_the_library(self):
        self.assertFalse(callgrind_dump.is_library("/build/vpc/libferrox-vpc.so.0.1.0"))
        self.assertTrue(callgrind_dump.is_library("/usr/lib/x86_64-linux-gnu/libferrox.so.0"))


if __name__ == "__main__":
    unittest.main()
