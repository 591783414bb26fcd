// SPDX-License-Identifier: MIT
// The printer handshake, through the port's pins and strobe.
#include "tools/ferrox/lpt/lpt_print.h"

#include "ferrox/hwtypes/PcHardware.h"

namespace ferrox_tool {

namespace {

using ferrox::lpt::FirstDataPin;
using ferrox::lpt::StrobePin;

void observe(const PrintWatchers& watchers) {
  if (watchers.recorder) watchers.recorder->take_from_shadows();
}

// Polls busy until it drops or the patience runs out. Polling, not sleeping: a printer takes the
// next byte as soon as busy drops, and the virtual printer counts register accesses, not time.
bool ready(ParallelLines& port, std::chrono::milliseconds patience, const PrintWatchers& watchers) {
  auto deadline = std::chrono::steady_clock::now() + patience;
  while (true) {
    bool busy = port.pin(ferrox::lpt::BusyPin);
    observe(watchers);
    if (!busy) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
  }
}

// Recording, the pulse is made of the same accesses as the port's strobe, but its hold reads
// the status lines instead of writing strobe again, so the recording sees the printer answer while
// the printer sees the same number of accesses.
void strobe(ParallelLines& port, const PrintWatchers& watchers) {
  if (!watchers.recorder) {
    port.strobe();
    return;
  }
  port.set_pin(StrobePin, false);
  observe(watchers);
  port.set_pin(StrobePin, true);
  observe(watchers);
  for (int access = 1; access < ferrox::lpt::PulseHoldWrites; ++access) {
    port.pin(ferrox::lpt::BusyPin);
    observe(watchers);
  }
}

}  // namespace

std::size_t print_on_parallel_port(ParallelLines& port, std::string_view text,
                                   std::chrono::milliseconds patience, const PrintWatchers& watchers) {
  std::size_t sent = 0;
  for (char character : text) {
    if (!ready(port, patience, watchers)) break;
    for (ferrox::Byte bit = 0; bit < 8; ++bit) {
      port.set_pin(static_cast<ferrox::Byte>(FirstDataPin + bit), (character >> bit) & 1);
      observe(watchers);
    }
    strobe(port, watchers);
    ++sent;
    if (watchers.progress) watchers.progress(sent);
  }
  // The printer's answer to the last byte belongs to the recording too.
  if (watchers.recorder && sent > 0) ready(port, patience, watchers);
  return sent;
}

std::size_t print_on_parallel_port(ferrox::TFerrox32& component, std::string_view text,
                                   std::chrono::milliseconds patience) {
  return print_on_parallel_port(*selected_port(component), text, patience);
}

}  // namespace ferrox_tool
