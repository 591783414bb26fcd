# SPDX-License-Identifier: MIT
# Physical memory through the binding: bytes out, buffers in, windows the driver refuses.
import errno

import numpy
import pytest

import ferrox

VGA = 0xFD000000


def test_physical_memory_reads_as_bytes(pc):
    words = pc.read_memory(0x408, 6)
    assert type(words) is bytes
    assert words == bytes.fromhex("780378020000")
    assert pc.fGetMemW(0x408, 1) == 0x278


def test_blocks_larger_than_one_request_come_whole_and_in_order(pc):
    pattern = numpy.random.default_rng(7).integers(0, 256, 200_000, dtype=numpy.uint8)
    pc.write_memory(VGA, pattern)
    back = numpy.zeros_like(pattern)
    pc.read_memory_into(VGA, back)
    assert numpy.array_equal(back, pattern)
    assert pc.read_memory(VGA + 70_000, 4) == pattern[70_000:70_004].tobytes()


def test_a_window_is_exactly_the_block(pc, vpc):
    # The first page ends where System RAM begins: a window a byte longer would be refused.
    assert len(pc.read_memory(0xF00, 0x100)) == 0x100
    assert (pc.MappedPhys(), pc.MappedSize()) == (0xF00, 0x100)


def test_memory_the_driver_does_not_map_is_a_permission_error(pc, vpc):
    with pytest.raises(PermissionError) as raised:
        pc.read_memory(0x2000, 16)  # System RAM
    assert raised.value.errno == errno.EPERM
    vpc.faults.refuse_map(once=True)
    with pytest.raises(OSError):
        pc.read_memory_into(0x400, bytearray(16))
    assert pc.read_memory(0x400, 2) == bytes.fromhex("f803")


def test_a_read_the_driver_refuses_is_an_oserror_and_writes_nothing_into_the_buffer(pc, vpc):
    buffer = bytearray(b"untouched")
    vpc.faults.fail_request(14, errno.EFAULT, once=True)
    with pytest.raises(OSError) as raised:
        pc.read_memory_into(0x400, buffer)
    assert raised.value.errno == errno.EFAULT
    assert buffer == b"untouched"


def test_mapped_memory_records_carry_data_both_ways(pc):
    linear = pc.fMapPhysToLinear(VGA, 4096)
    record = ferrox.TMemRec()
    record.PhysAddr, record.LinearAddr, record.Offset, record.Count = VGA, linear, 8, 4
    record.Data[:4] = b"\x01\x02\x03\x04"
    pc.fWriteMappedMemory(record)
    assert pc.fGetMemL(VGA, 2) == 0x04030201
    record.Data[:4] = bytes(4)
    pc.fReadMappedMemory(record)
    assert bytes(record.Data[:4]) == b"\x01\x02\x03\x04"
    with pytest.raises(ValueError):
        record.Count = 2**32
