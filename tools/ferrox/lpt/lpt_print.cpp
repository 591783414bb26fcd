// SPDX-License-Identifier: MIT
// The printer handshake, through the component's pins and strobe.
#include "tools/ferrox/lpt/lpt_print.h"

#include "ferrox/hwtypes/PcHardware.h"

namespace ferrox_tool {

namespace {

using ferrox::lpt::FirstDataPin;
using ferrox::lpt::StrobePin;
// Register accesses the component's strobe holds the line released after its one-access pulse.
constexpr int StrobeHoldAccesses = 1001;

void observe(const PrintWatchers& watchers) {
  if (watchers.recorder) watchers.recorder->take_from_shadows();
}

// Polls busy until it drops or the patience runs out. Polling, not sleeping: a printer takes the
// next byte as soon as busy drops, and the virtual printer counts register accesses, not time.
bool ready(ferrox::TFerrox32& component, std::chrono::milliseconds patience, const PrintWatchers& watchers) {
  auto deadline = std::chrono::steady_clock::now() + patience;
  while (true) {
    bool busy = component.fGetLPTBusy();
    observe(watchers);
    if (!busy) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
  }
}

// Recording, the pulse is made of the same accesses as the component's strobe, but its hold reads
// the status lines instead of writing strobe again, so the recording sees the printer answer while
// the printer sees the same number of accesses.
void strobe(ferrox::TFerrox32& component, const PrintWatchers& watchers) {
  if (!watchers.recorder) {
    component.LPTStrobe();
    return;
  }
  component.fSetPin(StrobePin, false);
  observe(watchers);
  component.fSetPin(StrobePin, true);
  observe(watchers);
  for (int access = 1; access < StrobeHoldAccesses; ++access) {
    component.fGetLPTBusy();
    observe(watchers);
  }
}

}  // namespace

std::size_t print_on_parallel_port(ferrox::TFerrox32& component, std::string_view text,
                                   std::chrono::milliseconds patience, const PrintWatchers& watchers) {
  std::size_t sent = 0;
  for (char character : text) {
    if (!ready(component, patience, watchers)) break;
    for (ferrox::Byte bit = 0; bit < 8; ++bit) {
      component.fSetPin(static_cast<ferrox::Byte>(FirstDataPin + bit), (character >> bit) & 1);
      observe(watchers);
    }
    strobe(component, watchers);
    ++sent;
    if (watchers.progress) watchers.progress(sent);
  }
  // The printer's answer to the last byte belongs to the recording too.
  if (watchers.recorder && sent > 0) ready(component, patience, watchers);
  return sent;
}

}  // namespace ferrox_tool
