// SPDX-License-Identifier: MIT
// Printing on a parallel port the way a careful host does.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>

#include "ferrox/component/Ferrox32.h"
#include "tools/ferrox/lpt/parallel_lines.h"
#include "tools/ferrox/lpt/pin_recorder.h"

namespace ferrox_tool {

// Who watches the printing: a recorder of the lines, and a report of the bytes handed over so far.
struct PrintWatchers {
  PinRecorder* recorder = nullptr;
  std::function<void(std::size_t sent)> progress;
};

// For each byte: waits while the printer is busy, puts the byte on the data pins and pulses
// strobe. A printer still busy after `patience` (off line, out of paper, in error) ends the
// printing. Returns how many bytes were handed over.
std::size_t print_on_parallel_port(ParallelLines& port, std::string_view text,
                                   std::chrono::milliseconds patience = std::chrono::seconds(5),
                                   const PrintWatchers& watchers = {});
// The same on the component's selected port.
std::size_t print_on_parallel_port(ferrox::TFerrox32& component, std::string_view text,
                                   std::chrono::milliseconds patience = std::chrono::seconds(5));

}  // namespace ferrox_tool
