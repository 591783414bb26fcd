// SPDX-License-Identifier: MIT
// What a set of timed samples says: its extremes, median and 99th percentile, and a histogram
// whose bins widen as the times grow, so that a long tail and a tight peak both show.
#pragma once

#include <time.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ferrox_tool {

// The monotonic clock in nanoseconds; async-signal-safe, so interrupt handlers read it too.
inline std::int64_t monotonic_ns() {
  timespec time{};
  clock_gettime(CLOCK_MONOTONIC, &time);
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

struct Summary {
  double minimum = 0, median = 0, p99 = 0, maximum = 0;  // nanoseconds
};

// Of samples in nanoseconds; all zero for none.
Summary summarize(std::vector<double> samples);

struct HistogramBin {
  double from = 0, to = 0;  // nanoseconds: from <= sample < to, the last bin holding the maximum too
  std::size_t count = 0;
};

// Up to bins bins from the least sample to the greatest, each wider than the one before by the
// same factor; one bin when all samples are equal, none when there are none.
std::vector<HistogramBin> histogram(const std::vector<double>& samples, int bins);

}  // namespace ferrox_tool
