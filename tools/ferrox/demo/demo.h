// SPDX-License-Identifier: MIT
// ferrox demo: a guided tour of the component on the virtual PC.
#pragma once

#include <ostream>

namespace ferrox_tool {

void run_demo(std::ostream& out);

}  // namespace ferrox_tool
