# SPDX-License-Identifier: MIT
# The methods under their C++ names: the component's own results and state, and arguments that
# C++ would not take refused before anything is sent.
import errno

import numpy
import pytest

import ferrox


def test_a_closed_driver_answers_its_fixed_values_and_sends_nothing(vpc):
    pc = ferrox.Ferrox32()
    assert (pc.fGetPortB(0x379), pc.fGetPortW(0x379), pc.fGetPortL(0x379)) == (0xFF, 0xFFFF, 0xFF)
    assert (pc.fGetMemB(0x400, 0), pc.fGetMemW(0x400, 0), pc.fGetMemL(0x400, 0)) == (0xFF, 0xFF, 0xFF)
    assert pc.PciGetDword(0, 0, 0, 0) == 0
    assert pc.PciDeviceInfo(0, 0, 0, ferrox.TPciCfg()) is False
    assert pc.fMapPhysToLinear(0x400, 16) == 0
    assert pc.HardAccess() and pc.LPTNumber() == 1 and all(pc.fGetMasked(line) for line in range(16))
    assert vpc.log.entries() == []
    pc.Free()


def test_arguments_that_do_not_fit_are_refused_and_nothing_is_sent(pc, vpc):
    vpc.log.record(64)
    for port in (0x10000, -1, 2**70):
        with pytest.raises(ValueError, match="outside 0..0xffff"):
            pc.fGetPortB(port)
    with pytest.raises(ValueError):
        pc.fSetPortB(0x378, 0x100)
    with pytest.raises(ValueError):
        pc.fGetMemB(2**32, 0)
    with pytest.raises(TypeError):
        pc.fGetPortB(0x379 + 0.5)
    assert vpc.log.entries() == []
    # numpy's integers are integers
    assert pc.fGetPortB(numpy.uint16(0x379)) == pc.fGetPortB(0x379)


def test_buffers_must_hold_the_block_and_be_writable_to_be_read_into(pc):
    with pytest.raises(ValueError, match="need 512 bytes; the buffer holds 511"):
        pc.ReadPortWFIFO(0x300, 256, bytearray(511))
    with pytest.raises(TypeError, match="writable"):
        pc.ReadPortFIFO(0x300, 4, b"read-only")
    with pytest.raises(ValueError):
        pc.ReadPhysicalMemory(0x400, 0, 17, bytearray(16))
    with pytest.raises(TypeError):
        pc.WritePortFIFO(0x300, 1, "text is no buffer")


def test_a_freed_component_refuses_every_call(vpc):
    pc = ferrox.Ferrox32()
    pc.OpenDriver()
    pc.Free()
    assert pc.freed
    with pytest.raises(ValueError, match="freed"):
        pc.fGetPortB(0x379)
    pc.Free()  # once is enough; twice does nothing
    assert [entry.event for entry in vpc.log.entries()][-1] == "close"


def test_the_permission_table_is_a_copy_that_shows_the_grants(pc):
    before = pc.GetDebugCode()
    assert len(before) == 65536 and before[0x378] == 0
    assert pc.fSetIoPermission(0x378)
    assert pc.GetDebugCode()[0x378] == 1 and before[0x378] == 0


def test_on_hw_interrupt_takes_handlers_but_no_python_callable(pc):
    assert not pc.OnHwInterrupt().Assigned()
    with pytest.raises(TypeError, match="signal handler"):
        pc.SetOnHwInterrupt(print)
    with pc.interrupts() as events:
        assert pc.OnHwInterrupt() == events.handler
        pc.SetOnHwInterrupt(None)
        assert not pc.OnHwInterrupt().Assigned()
        pc.SetOnHwInterrupt(events.handler)
    assert not pc.OnHwInterrupt().Assigned()


def test_the_driver_opens_as_the_component_says(vpc):
    vpc.faults.refuse_open(errno.ENOENT)
    pc = ferrox.Ferrox32()
    pc.OpenDriver()
    assert not pc.DriverActive() and pc.DriverHandle() == -1 and pc.LPTCount() == 0
    vpc.faults.refuse_open(0)
    pc.OpenDriver()
    assert pc.DriverActive() and pc.LPTCount() == 2 and pc.LPTAddress(2) == 0x278
    pc.CloseDriver()
    assert not pc.DriverActive()
    pc.Free()
