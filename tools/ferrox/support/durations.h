// SPDX-License-Identifier: MIT
// A duration as people read one: "1.5 ms", "120 us", "800 ns".
#pragma once

#include <string>
#include <vector>

namespace ferrox_tool {

// Three significant digits in the largest unit that keeps the number at 1 or more.
std::string duration_text(double nanoseconds);

// A mark on a time axis: where, and its label.
struct TimeTick {
  double nanoseconds;
  std::string label;
};

// The marks of an axis from 0 to end: at most `most` steps of 1, 2 or 5 times a power of ten, from
// 0, labelled in the one unit that suits the end ("0 us", "20 us", ... "160 us").
std::vector<TimeTick> time_ticks(double end_nanoseconds, int most);

}  // namespace ferrox_tool
