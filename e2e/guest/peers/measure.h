// Timing inside the emulated PC. Every figure is a median, so that the host's other work (QEMU's
// software emulation shares the machine) moves it little; the report sets figures of one run
// side by side, never against a figure of another run.
#pragma once

#include <cstdint>
#include <vector>

namespace peers {

// How long to measure: a short smoke in the ordinary end-to-end run, the full run when the guest
// kernel's command line says ferrox_peers=full.
struct Budget {
  int batches;
  std::int64_t batch_ns;  // a batch calls until it has taken this long (one call at least)
  int interrupts;         // samples of an interrupt's latency
};
Budget budget_from_environment();

std::int64_t now_ns();

// The sample below which the given percentage of the samples lie (50: the median).
double percentile(std::vector<double> samples, int percent);

// The median over the batches of the time per call. A batch calls in runs that double in length
// until it has taken its time, so that reading the clock (itself slow under emulation) costs
// little per call; a first batch, not counted, warms the emulator's translations and the caches.
template <class Call>
double time_per_call(const Budget& budget, Call&& call) {
  std::vector<double> per_call;
  for (int batch = 0; batch <= budget.batches; ++batch) {
    std::int64_t start = now_ns(), elapsed = 0;
    long calls = 0;
    for (long run = 1; elapsed < budget.batch_ns; run *= 2) {
      for (long i = 0; i < run; ++i) call();
      calls += run;
      elapsed = now_ns() - start;
    }
    if (batch > 0) per_call.push_back(static_cast<double>(elapsed) / static_cast<double>(calls));
  }
  return percentile(per_call, 50);
}

// One line per figure on the console, "peers: {json}", which bench/peers_report.py collects.
void report_time(const char* group, const char* method, double ns);
void report_latency(const char* group, const char* method, const std::vector<double>& samples_ns);

}  // namespace peers
