// SPDX-License-Identifier: MIT
// Durations in the unit that reads best.
#include "tools/ferrox/support/durations.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace ferrox_tool {

std::string duration_text(double nanoseconds) {
  if (nanoseconds >= 1e9) return fmt::format("{:.3g} s", nanoseconds / 1e9);
  if (nanoseconds >= 1e6) return fmt::format("{:.3g} ms", nanoseconds / 1e6);
  if (nanoseconds >= 1e3) return fmt::format("{:.3g} us", nanoseconds / 1e3);
  return fmt::format("{:.3g} ns", nanoseconds);
}

std::vector<TimeTick> time_ticks(double end_nanoseconds, int most) {
  double end = std::max(end_nanoseconds, 1.0);
  double least = end / most, power = std::pow(10, std::floor(std::log10(least)));
  double step = 10 * power;
  for (double multiple : {1, 2, 5})
    if (multiple * power >= least * (1 - 1e-9)) {
      step = multiple * power;
      break;
    }
  auto [unit, name] = end >= 1e9 ? std::pair(1e9, "s") : end >= 1e6 ? std::pair(1e6, "ms")
                    : end >= 1e3 ? std::pair(1e3, "us") : std::pair(1.0, "ns");
  int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step / unit) + 1e-9)));
  std::vector<TimeTick> ticks;
  for (int index = 0; index * step <= end * (1 + 1e-9); ++index)
    ticks.push_back({index * step, fmt::format("{:.{}f} {}", index * step / unit, decimals, name)});
  return ticks;
}

}  // namespace ferrox_tool
