// SPDX-License-Identifier: MIT
// The selected parallel port's 17 pins drawn as its 25-pin socket, with their levels.
#pragma once

#include <functional>
#include <ostream>

#include "ferrox/component/Ferrox32.h"

namespace ferrox_tool {

// The level of a signal pin 1..17, true for high.
using PinLevel = std::function<bool(int pin)>;

// Draws the socket as seen from the front, with the pins' levels and a legend of the pins.
void draw_socket(std::ostream& out, const PinLevel& level);

// As above, reading every pin of the selected port (one register read each).
void draw_socket(std::ostream& out, ferrox::TFerrox32& component);

}  // namespace ferrox_tool
