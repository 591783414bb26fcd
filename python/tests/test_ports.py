# SPDX-License-Identifier: MIT
# Ports through the binding: single transfers on both paths, blocks into and out of buffers with
# the buffer protocol (numpy among them), and direct access refused.
import array
import errno

import numpy
import pytest

import ferrox

REFUSED = 'privilege = { iopl = "EPERM", ioperm = "EPERM" }'


@pytest.mark.parametrize("width, number", [(1, 4), (2, 6), (4, 8)])
def test_a_read_is_one_driver_request_of_its_width(pc, vpc, width, number):
    vpc.log.record(16)
    pc.read_port(0x300, width=width)
    [request] = vpc.log.requests()
    assert request.number == number and request.sent[:4] == (0x300).to_bytes(4, "little")


def test_writes_reach_the_port_and_the_shadows(pc, vpc):
    pc.write_port(0x378, 0x5A)
    assert pc.LPTWriteShadow(0) == 0x5A and pc.read_port(0x378) == 0x5A
    vpc.log.record(16)
    pc.write_port(0x300, 0x12345678, width=4)
    assert vpc.log.requests()[0].sent == (0x300).to_bytes(4, "little") + (0x12345678).to_bytes(4, "little")


def test_the_direct_path_runs_port_instructions(pc, vpc):
    pc.hard_access = False
    vpc.log.record(16)
    status = pc.read_port(0x379)
    assert [entry.event for entry in vpc.log.entries()] == ["ioperm", "port_in"]
    assert vpc.log.entries()[1].value == status


def test_direct_access_refused_is_a_permission_error(vpc):
    vpc.reset(toml=REFUSED)
    with ferrox.Ferrox32() as pc:
        with pytest.raises(PermissionError) as raised:
            pc.hard_access = False
        assert raised.value.errno == errno.EPERM and pc.HardAccess()
        with pytest.raises(PermissionError):
            pc.read_fifo(0x300, 16)


def fifo_bytes(vpc, count):
    vpc.reset()
    with ferrox.Ferrox32() as pc:
        return bytes(pc.read_fifo(0x300, count))


def test_blocks_fill_any_buffer_in_place_and_widths_keep_the_byte_order(vpc):
    expected = fifo_bytes(vpc, 512)
    for width, buffer in [(2, numpy.zeros(256, numpy.uint16)), (4, array.array("I", bytes(512))),
                          (1, memoryview(bytearray(512)))]:
        vpc.reset()
        with ferrox.Ferrox32() as pc:
            assert pc.read_fifo(0x300, buffer, width=width) is buffer
        assert bytes(buffer) == expected

    vpc.reset()
    with ferrox.Ferrox32() as pc:
        strided = numpy.zeros(512, numpy.uint8)[::2]
        with pytest.raises(TypeError, match="contiguous"):
            pc.read_fifo(0x300, strided)


def test_a_block_written_from_numpy_goes_out_element_after_element(pc, vpc):
    words = numpy.arange(1, 5, dtype=numpy.uint16)
    vpc.log.record(16)
    pc.write_fifo(0x300, words, width=2)
    [instruction] = [entry for entry in vpc.log.entries() if entry.event == "port_out"]
    assert (instruction.port, instruction.width, instruction.count) == (0x300, 2, 4)
