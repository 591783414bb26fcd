// The printer handshake, through the component's pins and strobe.
#include "tools/ferrox/lpt_print.h"

namespace ferrox_tool {

namespace {

constexpr ferrox::Byte FirstDataPin = 2;

// Polls busy until it drops or the patience runs out. Polling, not sleeping: a printer takes the
// next byte as soon as busy drops, and the virtual printer counts register accesses, not time.
bool ready(ferrox::TFerrox32& component, std::chrono::milliseconds patience) {
  auto deadline = std::chrono::steady_clock::now() + patience;
  while (component.fGetLPTBusy())
    if (std::chrono::steady_clock::now() > deadline) return false;
  return true;
}

}  // namespace

std::size_t print_on_parallel_port(ferrox::TFerrox32& component, std::string_view text,
                                   std::chrono::milliseconds patience) {
  std::size_t sent = 0;
  for (char character : text) {
    if (!ready(component, patience)) break;
    for (ferrox::Byte bit = 0; bit < 8; ++bit)
      component.fSetPin(static_cast<ferrox::Byte>(FirstDataPin + bit), (character >> bit) & 1);
    component.LPTStrobe();
    ++sent;
  }
  return sent;
}

}  // namespace ferrox_tool
