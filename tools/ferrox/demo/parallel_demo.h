// SPDX-License-Identifier: MIT
// The tour's parallel-port section.
#pragma once

#include <ostream>

#include "ferrox/component/Ferrox32.h"

namespace ferrox_tool {

void show_parallel_port(std::ostream& out, ferrox::TFerrox32& component);

}  // namespace ferrox_tool
