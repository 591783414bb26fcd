// SPDX-License-Identifier: MIT
// Timing inside the emulated PC. QEMU's software emulation shares the host with whatever else
// runs there, so the methods of a group are timed in rounds, one batch of each in turn: a change
// in the host's load falls on all of them alike, and each method's figure is the median over the
// rounds of its time and of its ratio to the group's first method, ferrox.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace peers {

// How long to measure: a short smoke in the ordinary end-to-end run, the full run when the guest
// kernel's command line says ferrox_peers=full.
struct Budget {
  int rounds;
  std::int64_t batch_ns;  // a batch calls until it has taken this long (one call at least)
  int latency_rounds;     // rounds of the interrupt latency, in which the two methods alternate
  int interrupts;         // samples of an interrupt's latency, per method and round
};
Budget budget_from_environment();

std::int64_t now_ns();

// The sample below which the given percentage of the samples lie (50: the median).
double percentile(std::vector<double> samples, int percent);

struct Method {
  const char* name;
  std::function<void()> call;
};

// Times the methods of a group in rounds (after one round not counted, which warms the
// emulator's translations and the caches) and reports them.
void time_group(const char* group, const Budget& budget, const std::vector<Method>& methods);

// One line per figure on the console, "peers: {json}", which bench/peers_report.py collects:
// the median time, and the median ratio to ferrox over the rounds.
void report_time(const char* group, const char* method, double ns, double ratio);
// An interrupt's latency over all the samples of every round, with its 99th percentile.
void report_latency(const char* group, const char* method, const std::vector<double>& samples_ns, double ratio);

}  // namespace peers
