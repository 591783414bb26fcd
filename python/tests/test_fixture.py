# SPDX-License-Identifier: MIT
# The fixture hands every test a fresh machine: what one test changes, the next does not see.
import errno

import pytest

import ferrox

COMMAND = (0, 2, 0, 4)


def test_one_changes_the_machine(vpc):
    with ferrox.Ferrox32() as pc:
        pc.pci_write(*COMMAND, 0x7, width=2)
        pc.send(ord("x"))
    vpc.faults.refuse_open(errno.EACCES)
    vpc.log.record(1)


def test_the_next_finds_it_fresh(vpc):
    assert vpc.printer_output() == b""
    assert vpc.log.entries() == []
    with ferrox.Ferrox32() as pc:  # opens: the fault is gone
        assert pc.pci_read(*COMMAND, width=2) == 0x3
    assert len(vpc.log.entries()) > 1  # recording 4096 again


def test_a_machine_file_at_fault_is_said_and_the_machine_is_the_default(vpc, tmp_path):
    machine = tmp_path / "broken.toml"
    machine.write_text("timer = 3\n")
    with pytest.raises(RuntimeError, match="broken.toml:1: timer"):
        vpc.reset(machine)
    with ferrox.Ferrox32() as pc:
        assert pc.lpt_addresses == (0x378, 0x278)
