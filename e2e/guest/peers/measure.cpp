// Timing helpers and the result lines of the peer benchmarks.
#include "peers/measure.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/check.h"

namespace peers {

Budget budget_from_environment() {
  // The kernel hands parameters it does not know to /init as environment variables.
  const char* mode = std::getenv("ferrox_peers");
  if (mode && std::strcmp(mode, "full") == 0) return {15, 20'000'000, 1000};
  return {3, 500'000, 10};
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

void report_time(const char* group, const char* method, double ns) {
  std::printf("peers: {\"abi\": \"%s\", \"group\": \"%s\", \"method\": \"%s\", \"ns\": %.1f}\n", e2e::abi(), group,
              method, ns);
}

void report_latency(const char* group, const char* method, const std::vector<double>& samples_ns) {
  std::printf(
      "peers: {\"abi\": \"%s\", \"group\": \"%s\", \"method\": \"%s\", \"ns\": %.1f, \"p99_ns\": %.1f, "
      "\"samples\": %zu}\n",
      e2e::abi(), group, method, percentile(samples_ns, 50), percentile(samples_ns, 99), samples_ns.size());
}

}  // namespace peers
