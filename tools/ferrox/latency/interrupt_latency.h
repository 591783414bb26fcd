// SPDX-License-Identifier: MIT
// How quickly an interrupt reaches the program's OnHwInterrupt. On a parallel port with a loopback
// plug, or a wire from one of its outputs to nAck, the time from the program's write that raises
// nAck to its handler; on a port that interrupts on a control write alone (QEMU's emulated one),
// from that write; on a machine without either, the intervals between the timer line's
// interrupts, which show the delivery's jitter though not its delay.
#pragma once

#include <optional>
#include <vector>

#include "ferrox/common/Result.h"
#include "ferrox/component/Ferrox32.h"

namespace ferrox_tool {

struct InterruptPlan {
  std::optional<unsigned> port;     // LPTn; the selected port (LPT1) when not given
  std::optional<unsigned> line;     // the port's IRQ line; the one PCs give its base when not given
  std::optional<unsigned> samples;  // 1000 on a parallel port, 40 on the timer when not given
};

enum class InterruptSource { Loopback, ControlWrite, Timer };

struct InterruptLatency {
  InterruptSource source = InterruptSource::Timer;
  unsigned port = 0;        // LPTn, on a loopback or a control write
  ferrox::Byte pin = 0;     // the output wired to nAck, on a loopback
  ferrox::Byte line = 0;
  std::vector<double> samples;  // nanoseconds: write to handler (loopback), handler to handler (timer)
};

// Selects the plan's parallel port: an error when the firmware lists fewer.
ferrox::Status select_port(ferrox::TFerrox32& component, const InterruptPlan& plan);

// The parallel port's output whose level nAck follows, as a loopback plug or a wire makes it: 0
// when none does. Drives each candidate output both ways and back; the strobe is not among them,
// since a printer takes a byte on every strobe.
ferrox::Byte find_wire_to_acknowledge(ferrox::TFerrox32& component);

// The figures of the selected port's loopback, or of the timer; an error when the driver keeps the
// line masked, or an interrupt does not come within a second.
ferrox::Result<InterruptLatency> measure_interrupt_latency(ferrox::TFerrox32& component, const InterruptPlan& plan);

}  // namespace ferrox_tool
