# SPDX-License-Identifier: MIT
# The parallel port through the binding: printing, pins and lines as properties, selection.
import pytest


def test_bytes_sent_with_the_strobe_reach_the_printer(pc, vpc):
    for byte in b"Hi\n":
        while pc.busy:
            pass
        pc.send(byte)
    assert vpc.printer_output(0x378) == b"Hi\n"


def test_pins_and_lines_read_as_the_component_reads_them(pc):
    pc.pins[2] = True
    pc.pins[9] = True
    assert pc.data == 0x81 and pc.pins[2] and pc.pins[9] and not pc.pins[3]
    assert len(pc.pins) == 17 and list(pc.pins)[1] is True
    assert pc.busy == pc.fGetLPTBusy() and pc.acknowledge == pc.fGetLPTAckwl()
    assert pc.selected == (not pc.fGetLPTSlct()) and pc.error == pc.fGetLPTError()
    assert pc.paper_end == pc.fGetLPTPaperEnd()
    pc.auto_feed = True
    assert pc.auto_feed and pc.LPTWriteShadow(2) & 0x02


def test_opening_selects_lpt1_so_that_control_writes_start_from_the_port(pc):
    # Init (0x04) is high on a port at rest: a write from a shadow of zeros would pull it low.
    assert pc.LPTWriteShadow(2) & 0x04
    pc.lpt_irq = True
    assert pc.lpt_irq and pc.LPTWriteShadow(2) & 0x14 == 0x14


def test_the_second_port_is_selected_by_number(pc):
    assert pc.lpt_addresses == (0x378, 0x278)
    pc.lpt_number = 2
    assert pc.LPTBase() == 0x278 and pc.lpt_number == 2
    with pytest.raises(ValueError):
        pc.lpt_number = 0
