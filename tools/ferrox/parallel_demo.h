// The tour's parallel-port section, and printing a line the way a careful host does.
#pragma once

#include <ostream>
#include <string_view>

#include "component/Ferrox32.h"

namespace ferrox_tool {

void show_parallel_port(std::ostream& out, ferrox::TFerrox32& component);

// Prints on the selected port: for each byte, waits while the printer is busy, puts the byte on
// the data pins and pulses strobe. False when the printer stays busy.
bool print_on_parallel_port(ferrox::TFerrox32& component, std::string_view text);

}  // namespace ferrox_tool
