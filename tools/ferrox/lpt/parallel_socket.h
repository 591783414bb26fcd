// SPDX-License-Identifier: MIT
// The selected parallel port's 17 pins drawn as its 25-pin socket, with their levels.
#pragma once

#include <ostream>

#include "ferrox/component/Ferrox32.h"

namespace ferrox_tool {

// Reads every pin of the selected port (one register read each) and draws the socket as seen
// from the front, with a legend of the pins.
void draw_socket(std::ostream& out, ferrox::TFerrox32& component);

}  // namespace ferrox_tool
