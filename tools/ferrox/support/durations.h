// SPDX-License-Identifier: MIT
// A duration as people read one: "1.5 ms", "120 us", "800 ns".
#pragma once

#include <string>

namespace ferrox_tool {

// Three significant digits in the largest unit that keeps the number at 1 or more.
std::string duration_text(double nanoseconds);

}  // namespace ferrox_tool
