// SPDX-License-Identifier: MIT
// A recording of the parallel port's lines drawn as a logic analyzer shows it: one trace per pin,
// labelled with pin number and signal, high up and low down, and the data byte the data lines
// carry, over a time axis.
#pragma once

#include <string>

#include "ferrox/common/Result.h"
#include "tools/ferrox/lpt/pin_recorder.h"

namespace ferrox_tool {

ferrox::Status write_waveform_png(const std::string& file, const PinRecorder& recording);

}  // namespace ferrox_tool
