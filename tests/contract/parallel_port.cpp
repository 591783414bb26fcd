// SPDX-License-Identifier: MIT
// The printing handshake of a PC parallel port.
#include "tests/contract/parallel_port.h"

namespace contract::lpt {
namespace {

// Each status read advances the printer's handshake, so a bounded count of reads is the timeout.
constexpr int BusyPolls = 1000;

}  // namespace

bool wait_ready(PortPath& path, std::uint16_t base) {
  for (int i = 0; i < BusyPolls; ++i)
    if (path.in8(base + Status) & NotBusy) return true;
  return false;
}

void reset(PortPath& path, std::uint16_t base) {
  path.out8(base + Control, SelectIn);
  path.out8(base + Control, SelectIn | NotInit);
  // An acknowledge the last program left pending is dropped here, not left to the next listener:
  // the printer holds its line raised until the status is read.
  path.in8(base + Status);
}

bool print_byte(PortPath& path, std::uint16_t base, char byte, std::uint8_t extra_control) {
  const std::uint8_t idle = SelectIn | NotInit | extra_control;
  if (!wait_ready(path, base)) return false;
  path.out8(base + Data, static_cast<std::uint8_t>(byte));
  path.out8(base + Control, idle | Strobe);
  path.out8(base + Control, idle);
  return true;
}

bool print(PortPath& path, std::uint16_t base, std::string_view text, std::uint8_t extra_control) {
  for (char c : text)
    if (!print_byte(path, base, c, extra_control)) return false;
  // Reading the status once more lets the printer finish (and acknowledge) the last byte.
  return wait_ready(path, base);
}

}  // namespace contract::lpt
