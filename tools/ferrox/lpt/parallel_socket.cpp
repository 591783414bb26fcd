// SPDX-License-Identifier: MIT
// Drawing the parallel port's socket.
#include "tools/ferrox/lpt/parallel_socket.h"

#include <fmt/format.h>

#include <string>

namespace ferrox_tool {

namespace {

// "H" or "L" for a signal pin, "G" for the ground pins 18..25.
const char* pin_level(const PinLevel& level, int pin) {
  if (pin > ferrox::LptPinCount) return "G";
  return level(pin) ? "H" : "L";
}

std::string pin_levels(const PinLevel& level, int from, int to) {
  std::string row;
  for (int pin = from; pin >= to; --pin) row += fmt::format("{:>3}", pin_level(level, pin));
  return row;
}

std::string pin_numbers(int from, int to) {
  std::string row;
  for (int pin = from; pin >= to; --pin) row += fmt::format("{:>3}", pin);
  return row;
}

}  // namespace

// The PC's socket seen from the front: pins 13..1 on the upper row, 25..14 on the lower.
void draw_socket(std::ostream& out, const PinLevel& level) {
  out << fmt::format("  \\{} /\n", pin_numbers(13, 1));
  out << fmt::format("   \\{} /\n", pin_levels(level, 13, 1));
  out << fmt::format("    \\{} /\n", pin_numbers(25, 14));
  out << fmt::format("     \\{} /\n", pin_levels(level, 25, 14));
  out << "  1 strobe, 2..9 data, 10 acknowledge, 11 busy, 12 paper end, 13 select, 14 auto feed,\n"
         "  15 error, 16 init, 17 select in, 18..25 ground (H high, L low, G ground)\n";
}

void draw_socket(std::ostream& out, ferrox::TFerrox32& component) {
  draw_socket(out, [&component](int pin) { return component.fGetPin(static_cast<ferrox::Byte>(pin)); });
}

}  // namespace ferrox_tool
