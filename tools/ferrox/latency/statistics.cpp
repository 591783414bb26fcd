// SPDX-License-Identifier: MIT
// Percentiles by rank, and bins spaced evenly on a logarithmic scale.
#include "tools/ferrox/latency/statistics.h"

#include <algorithm>
#include <cmath>

namespace ferrox_tool {

namespace {

// The sample below which percent of the sorted samples lie, by nearest rank.
double ranked(const std::vector<double>& sorted, double percent) {
  auto rank = static_cast<std::size_t>(std::ceil(percent / 100 * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

}  // namespace

Summary summarize(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  return {samples.front(), ranked(samples, 50), ranked(samples, 99), samples.back()};
}

std::vector<HistogramBin> histogram(const std::vector<double>& samples, int bins) {
  if (samples.empty() || bins < 1) return {};
  auto [least, greatest] = std::minmax_element(samples.begin(), samples.end());
  if (*least == *greatest) return {{*least, *greatest, samples.size()}};
  // A zero (a call faster than the clock could tell) would have no logarithm: start at 1 ns.
  double low = std::max(*least, 1.0), factor = std::pow(*greatest / low, 1.0 / bins);
  std::vector<HistogramBin> result(static_cast<std::size_t>(bins));
  for (std::size_t bin = 0; bin < result.size(); ++bin) {
    result[bin].from = bin == 0 ? *least : low * std::pow(factor, static_cast<double>(bin));
    result[bin].to = bin + 1 == result.size() ? *greatest : low * std::pow(factor, static_cast<double>(bin + 1));
  }
  for (double sample : samples) {
    double place = sample <= low ? 0 : std::log(sample / low) / std::log(factor);
    auto bin = std::min(static_cast<std::size_t>(place), result.size() - 1);
    ++result[bin].count;
  }
  return result;
}

}  // namespace ferrox_tool
