// SPDX-License-Identifier: MIT
// A recording of the parallel port's lines as a Value Change Dump (IEEE 1364), the format that
// waveform viewers and logic-analyzer software read: one 1-bit wire per pin, named by pin number
// and signal ("pin11_Busy"), time in ticks of the dump's timescale from #0, the first sample.
#pragma once

#include <cstdint>
#include <ostream>

#include "tools/ferrox/lpt/pin_recorder.h"

namespace ferrox_tool {

// The timescale of a capture at a rate, in nanoseconds: its sample period where the rate is a power
// of ten, else the power of ten just below it (a timescale is 1, 10 or 100 of a unit). Logic-analyzer
// software takes one tick for one sample, so it reads the dump at the capture's rate, or at most ten
// times finer where the rate is no power of ten.
std::uint64_t vcd_tick_for_rate(std::uint32_t rate);

// tick_ns: a power of ten from 1 (1 ns) to 10^9 (1 s).
void write_vcd(std::ostream& out, const PinRecorder& recording, std::uint64_t tick_ns);

}  // namespace ferrox_tool
