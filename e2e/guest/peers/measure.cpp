// SPDX-License-Identifier: MIT
// Timing in rounds, and the result lines of the peer benchmarks.
#include "peers/measure.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/check.h"

namespace peers {

namespace {

// The time per call of one batch. It calls in runs that double in length until it has taken its
// time, so that reading the clock (itself slow under emulation) costs little per call.
double batch(const Budget& budget, const std::function<void()>& call) {
  std::int64_t start = now_ns(), elapsed = 0;
  long calls = 0;
  for (long run = 1; elapsed < budget.batch_ns; run *= 2) {
    for (long i = 0; i < run; ++i) call();
    calls += run;
    elapsed = now_ns() - start;
  }
  return static_cast<double>(elapsed) / static_cast<double>(calls);
}

}  // namespace

Budget budget_from_environment() {
  // The kernel hands parameters it does not know to /init as environment variables.
  const char* mode = std::getenv("ferrox_peers");
  if (mode && std::strcmp(mode, "full") == 0) return {25, 10'000'000, 10, 100};
  return {2, 500'000, 1, 5};
}

std::int64_t now_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

double percentile(std::vector<double> samples, int percent) {
  if (samples.empty()) return 0;
  auto rank = (samples.size() - 1) * static_cast<std::size_t>(percent) / 100;
  std::nth_element(samples.begin(), samples.begin() + static_cast<long>(rank), samples.end());
  return samples[rank];
}

void time_group(const char* group, const Budget& budget, const std::vector<Method>& methods) {
  std::vector<std::vector<double>> times(methods.size()), ratios(methods.size());
  for (int round = -1; round < budget.rounds; ++round) {
    std::vector<double> per_call;
    for (const Method& method : methods) per_call.push_back(batch(budget, method.call));
    if (round < 0) continue;
    for (std::size_t m = 0; m < methods.size(); ++m) {
      times[m].push_back(per_call[m]);
      ratios[m].push_back(per_call[m] / per_call[0]);
    }
  }
  for (std::size_t m = 0; m < methods.size(); ++m)
    report_time(group, methods[m].name, percentile(times[m], 50), percentile(ratios[m], 50));
}

void report_time(const char* group, const char* method, double ns, double ratio) {
  std::printf("peers: {\"abi\": \"%s\", \"group\": \"%s\", \"method\": \"%s\", \"ns\": %.1f, \"ratio\": %.3f}\n",
              scenarios::abi(), group, method, ns, ratio);
}

void report_latency(const char* group, const char* method, const std::vector<double>& samples_ns, double ratio) {
  std::printf(
      "peers: {\"abi\": \"%s\", \"group\": \"%s\", \"method\": \"%s\", \"ns\": %.1f, \"ratio\": %.3f, "
      "\"p99_ns\": %.1f, \"samples\": %zu}\n",
      scenarios::abi(), group, method, percentile(samples_ns, 50), ratio, percentile(samples_ns, 99), samples_ns.size());
}

}  // namespace peers
