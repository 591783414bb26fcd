// SPDX-License-Identifier: MIT
// Durations in the unit that reads best.
#include "tools/ferrox/support/durations.h"

#include <fmt/format.h>

namespace ferrox_tool {

std::string duration_text(double nanoseconds) {
  if (nanoseconds >= 1e9) return fmt::format("{:.3g} s", nanoseconds / 1e9);
  if (nanoseconds >= 1e6) return fmt::format("{:.3g} ms", nanoseconds / 1e6);
  if (nanoseconds >= 1e3) return fmt::format("{:.3g} us", nanoseconds / 1e3);
  return fmt::format("{:.3g} ns", nanoseconds);
}

}  // namespace ferrox_tool
