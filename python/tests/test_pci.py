# SPDX-License-Identifier: MIT
# PCI configuration space through the binding: headers by field and as bytes, registers.
import errno

import pytest


def test_a_header_by_field_and_as_the_registers_read_it(pc):
    header = pc.pci_header(0, 0, 0)
    assert (header.VendorID, header.DeviceID, header.ClassCode, header.SubClass) == (0x8086, 0x1237, 0x06, 0x00)
    raw = bytes(header)
    assert len(raw) == 64
    assert raw == b"".join(pc.pci_read(0, 0, 0, register).to_bytes(4, "little") for register in range(0, 64, 4))
    ethernet = pc.pci_header(0, 3, 0)
    assert ethernet.BaseAddress[0] == pc.pci_read(0, 3, 0, 0x10)


def test_where_no_function_is_there_is_no_header(pc):
    assert pc.pci_header(0, 31, 7) is None
    assert pc.pci_read(0, 31, 7, 0) == 0xFFFFFFFF


def test_registers_are_written_in_their_width(pc):
    command = pc.pci_read(0, 2, 0, 4, width=2)
    pc.pci_write(0, 2, 0, 4, command | 0x4, width=2)
    assert pc.pci_read(0, 2, 0, 4, width=2) == command | 0x4
    assert pc.pci_read(0, 2, 0, 4, width=1) == (command | 0x4) & 0xFF


def test_a_read_that_fails_is_an_oserror_not_all_ones(pc, vpc):
    vpc.faults.fail_request(16, errno.EIO, once=True)
    with pytest.raises(OSError) as raised:
        pc.pci_read(0, 0, 0, 0)
    assert raised.value.errno == errno.EIO
    vpc.faults.fail_request(16, errno.EIO, once=True)
    with pytest.raises(OSError):
        pc.pci_header(0, 0, 0)
