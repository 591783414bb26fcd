// SPDX-License-Identifier: MIT
// How QEMU's parallel port is made to interrupt: with interrupts enabled in the control register,
// a control write that keeps init and select high and strobe low sets its pending interrupt and
// raises the line; reading the status register clears it and lowers the line again. Both peers
// of the latency figure use these same port instructions (the process holds the ports with
// ioperm), so they differ only in how the interrupt reaches the program.
#pragma once

#include <sys/io.h>

#include "peers/peers.h"

namespace peers {

constexpr unsigned char ControlIdle = 0x0C;        // init and select high, strobe low
constexpr unsigned char ControlInterrupts = 0x1C;  // the same, with interrupts enabled

inline bool hold_lpt_ports() { return ioperm(LptData, 3, 1) == 0; }
inline void raise_lpt_irq() { outb(ControlInterrupts, LptControl); }
inline void lower_lpt_irq() { (void)inb(LptStatus); }

// Enables the port's interrupts, leaving none pending; and back to how the other programs expect
// the port, interrupts off and none pending.
inline void enable_lpt_irq() {
  outb(ControlInterrupts, LptControl);
  lower_lpt_irq();
}
inline void disable_lpt_irq() {
  outb(ControlIdle, LptControl);
  lower_lpt_irq();
}

}  // namespace peers
