// SPDX-License-Identifier: MIT
// The library beside the ways a Linux program reaches the same hardware without it, measured in
// the emulated PC. Each function measures one group of methods on the same device, checks that
// every method saw the same thing, and reports one line per method (measure.h).
#pragma once

#include "ferrox/component/Ferrox32.h"
#include "peers/measure.h"

namespace peers {

// LPT1 of the emulated PC.
constexpr ferrox::Word LptData = 0x378, LptStatus = 0x379, LptControl = 0x37A;
constexpr ferrox::Byte LptIrq = 7;

// The component is open on the driver, on the driver path.
void pci_reads(ferrox::TFerrox32& component, const Budget& budget);
void vga_window_reads(ferrox::TFerrox32& component, const Budget& budget);
// With the kernel's parallel-port stack loaded (parport_stack.h), for ppdev.
void status_reads(ferrox::TFerrox32& component, const Budget& budget);
// Loads and unloads the stack itself: the library and parport_pc take IRQ 7 in turn.
void interrupt_latency(ferrox::TFerrox32& component, const Budget& budget);

}  // namespace peers
