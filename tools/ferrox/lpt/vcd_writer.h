// SPDX-License-Identifier: MIT
// A recording of the parallel port's lines as a Value Change Dump (IEEE 1364), the format that
// waveform viewers and logic-analyzer software read: one 1-bit wire per pin, named by pin number
// and signal ("pin11_Busy"), time in nanoseconds.
#pragma once

#include <ostream>

#include "tools/ferrox/lpt/pin_recorder.h"

namespace ferrox_tool {

void write_vcd(std::ostream& out, const PinRecorder& recording);

}  // namespace ferrox_tool
