# SPDX-License-Identifier: MIT
# The convenience layer's failures: OSError subclasses with the errno and the reason, ValueError
# for arguments out of range, and nothing sent for either.
import errno

import pytest

import ferrox


@pytest.mark.parametrize("error, kind, meaning", [
    (errno.ENOENT, FileNotFoundError, "not loaded"),
    (errno.EACCES, PermissionError, "group ferrox"),
    (errno.EPERM, PermissionError, "CAP_SYS_RAWIO"),
    (errno.ENODEV, OSError, "no driver answers"),
])
def test_a_driver_that_does_not_open_is_an_oserror_with_its_errno_and_reason(vpc, error, kind, meaning):
    vpc.faults.refuse_open(error)
    with pytest.raises(kind) as raised:
        with ferrox.Ferrox32():
            pass
    assert raised.value.errno == error
    assert raised.value.filename == "/dev/ferrox"
    assert meaning in str(raised.value) and meaning in ferrox.driver_open_reason(error)


def test_conveniences_need_the_driver_open(vpc):
    pc = ferrox.Ferrox32()
    for call in (lambda: pc.read_port(0x379), lambda: pc.read_memory(0x400, 1), lambda: pc.pci_header(0, 0, 0),
                 lambda: pc.pins[1], lambda: pc.busy, lambda: pc.interrupts(7)):
        with pytest.raises(OSError) as raised:
            call()
        assert raised.value.errno == errno.EBADF
    pc.Free()


def test_a_request_the_driver_refuses_is_an_oserror(pc, vpc):
    vpc.faults.fail_request(4, errno.EIO, once=True)
    with pytest.raises(OSError) as raised:
        pc.read_port(0x379)
    assert raised.value.errno == errno.EIO
    assert pc.read_port(0x379) == pc.fGetPortB(0x379)  # once


@pytest.mark.parametrize("call, message", [
    (lambda pc: pc.read_port(0xFFFF, width=2), "port 0xffff is outside 0..0xfffe"),
    (lambda pc: pc.write_port(0x378, 256), "value 0x100 is outside 0..255"),
    (lambda pc: pc.read_port(0x378, width=8), "width 8 is not 1, 2 or 4"),
    (lambda pc: pc.read_memory(0xFFFFFFF0, 17), "count 17 is outside 0..16"),
    (lambda pc: pc.pci_read(0, 32, 0, 0), "device 32 is outside 0..31"),
    (lambda pc: pc.pci_read(0, 0, 0, 2, width=4), "not aligned"),
    (lambda pc: pc.pci_read(0, 0, 0, 0x1000, width=1), "register 0x1000 is outside"),
    (lambda pc: pc.pins[18], "pin 18 is outside 1..17"),
    (lambda pc: pc.interrupts(16), "line 16 is outside 0..15"),
    (lambda pc: pc.write_fifo(0x300, bytes(3), width=2), "not whole elements"),
])
def test_arguments_out_of_range_are_value_errors_and_send_nothing(pc, vpc, call, message):
    vpc.log.record(64)
    with pytest.raises(ValueError, match=message):
        call(pc)
    assert vpc.log.entries() == []


def test_setting_lpt_number_to_a_port_not_discovered_is_a_value_error(pc):
    pc.lpt_number = 2
    assert pc.LPTBase() == 0x278
    with pytest.raises(ValueError, match="2 were"):
        pc.lpt_number = 3
    assert pc.lpt_number == 2
