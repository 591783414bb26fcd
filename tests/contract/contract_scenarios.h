// SPDX-License-Identifier: MIT
// The driver's contract as scenarios: written once, run by the ordinary suite against the virtual
// PC and by a program inside the emulated PC against the kernel driver.
//
// Each scenario opens the descriptors it needs. The PC has a printer on the parallel port at 0x378,
// which interrupts on line 7 when it acknowledges a byte with the port's interrupt enabled; a host
// bridge at 0:0.0 and nothing at 0:31.7 or on bus 200; System RAM at 0x1000 and from 1 MiB to
// 8 MiB; the BIOS data area in the first page and ROMs below 1 MiB.
#pragma once

#include "tests/scenarios/scenario_checks.h"

namespace contract {

// Unknown codes, records the driver cannot read, ports outside the port space, values wider than
// the transfer: refused with their errno, and nothing written.
void malformed_port_requests(scenarios::Checks& checks);
// The PCI configuration ports take configuration mechanism #1's accesses only (0xCF9, the reset
// control beside them, is refused).
void pci_configuration_ports(scenarios::Checks& checks);
// Ranges that cannot be mapped, transfers outside a window of the descriptor, released windows,
// the bound on windows per descriptor.
void malformed_window_requests(scenarios::Checks& checks);
// Registers outside the space or not aligned, values wider than the register; absent functions.
void malformed_pci_requests(scenarios::Checks& checks);
// Lines, signals and processes that do not fit; masking twice, unmasking twice.
void malformed_interrupt_requests(scenarios::Checks& checks);
// Each descriptor listening on a line receives every interrupt with its cookie and the line;
// masking and closing stop that, and the driver counts only the interrupts it took.
void interrupts_reach_each_listener(scenarios::Checks& checks);
// A forked child that inherited the descriptor may use it for windows and lines of its own, but
// gets EPERM for its parent's, which stay as they were. The virtual PC, whose machine stays with
// the process that started it, refuses every request of the child with EBADF instead.
enum class ForkedChild { Served, Refused };
void windows_and_lines_belong_to_their_process(scenarios::Checks& checks, ForkedChild child = ForkedChild::Served);
// The driver still serves ports, PCI and windows after everything the scenarios above sent.
void still_serving(scenarios::Checks& checks);

}  // namespace contract
