// SPDX-License-Identifier: MIT
// ferrox latency's text and JSON.
#include <fmt/format.h>

#include <algorithm>
#include <ostream>

#include "tools/ferrox/latency/latency_report.h"
#include "tools/ferrox/lpt/pin_recorder.h"
#include "tools/ferrox/support/durations.h"

namespace ferrox_tool {

namespace {

constexpr int BarWidth = 40;

std::string figures_text(const Summary& summary) {
  return fmt::format("{:>9} {:>9} {:>9} {:>9}", duration_text(summary.minimum), duration_text(summary.median),
                     duration_text(summary.p99), duration_text(summary.maximum));
}

void print_operations(std::ostream& out, const std::vector<OperationCost>& operations) {
  out << fmt::format("{:<34} {:>7} {:>9} {:>9} {:>9} {:>9}\n", "one call of", "calls", "min", "median", "p99", "max");
  for (const OperationCost& cost : operations)
    out << (cost.calls == 0 ? fmt::format("{:<34} not measured: {}\n", cost.name, cost.reason)
                            : fmt::format("{:<34} {:>7} {}\n", cost.name, cost.calls, figures_text(cost.summary)));
}

void print_histogram(std::ostream& out, const std::vector<double>& samples) {
  std::vector<HistogramBin> bins = histogram(samples, HistogramBins);
  std::size_t most = 0;
  for (const HistogramBin& bin : bins) most = std::max(most, bin.count);
  if (most == 0) return;
  for (const HistogramBin& bin : bins) {
    auto bar = static_cast<std::size_t>((bin.count * BarWidth + most - 1) / most);
    out << fmt::format("  {:>9} .. {:>9} |{:<{}}| {}\n", duration_text(bin.from), duration_text(bin.to),
                       std::string(bar, '#'), BarWidth, bin.count);
  }
}

nlohmann::json summary_json(const Summary& summary) {
  return {{"min", summary.minimum / 1e9}, {"median", summary.median / 1e9}, {"p99", summary.p99 / 1e9},
          {"max", summary.maximum / 1e9}};
}

const char* source_name(InterruptSource source) {
  switch (source) {
    case InterruptSource::Loopback:
      return "loopback";
    case InterruptSource::ControlWrite:
      return "control_write";
    case InterruptSource::Timer:
      break;
  }
  return "timer";
}

nlohmann::json interrupts_json(const InterruptLatency& interrupts) {
  bool timer = interrupts.source == InterruptSource::Timer;
  nlohmann::json bins = nlohmann::json::array();
  for (const HistogramBin& bin : histogram(interrupts.samples, HistogramBins))
    bins.push_back({{"from", bin.from / 1e9}, {"to", bin.to / 1e9}, {"count", bin.count}});
  nlohmann::json document = {{"source", source_name(interrupts.source)},
                             {"line", interrupts.line},
                             {"measures", timer ? "interval" : "write_to_handler"},
                             {"samples", interrupts.samples.size()},
                             {"seconds", summary_json(summarize(interrupts.samples))},
                             {"histogram", bins}};
  if (!timer) document["port"] = interrupts.port;
  if (interrupts.source == InterruptSource::Loopback) document["pin"] = interrupts.pin;
  return document;
}

}  // namespace

std::string interrupt_title(const InterruptLatency& interrupts) {
  if (interrupts.source == InterruptSource::Timer)
    return fmt::format("the timer, IRQ {}: the interval from one OnHwInterrupt to the next", interrupts.line);
  if (interrupts.source == InterruptSource::ControlWrite)
    return fmt::format("LPT{} interrupting on a control write (no wire to nAck), IRQ {}: from the write to "
                       "OnHwInterrupt",
                       interrupts.port, interrupts.line);
  return fmt::format("LPT{} pin {} ({}) wired to nAck, IRQ {}: from the write to OnHwInterrupt", interrupts.port,
                     interrupts.pin, PinSignalNames[interrupts.pin], interrupts.line);
}

void print_text(std::ostream& out, const LatencyReport& report) {
  if (report.virtual_pc)
    out << "These are the virtual PC's figures: its driver and devices emulated on this processor, "
           "not a PC's hardware.\n";
  print_operations(out, report.operations);
  if (!report.interrupts) return;
  const InterruptLatency& interrupts = *report.interrupts;
  out << fmt::format("\ninterrupt latency, {}\n{:<34} {:>7} {}\n", interrupt_title(interrupts), "", interrupts.samples.size(),
                     figures_text(summarize(interrupts.samples)));
  print_histogram(out, interrupts.samples);
}

nlohmann::json report_json(const LatencyReport& report) {
  nlohmann::json operations = nlohmann::json::array();
  for (const OperationCost& cost : report.operations) {
    nlohmann::json operation = {{"operation", cost.key}, {"name", cost.name}, {"calls", cost.calls}};
    operation["seconds"] = cost.calls == 0 ? nlohmann::json(nullptr) : summary_json(cost.summary);
    if (cost.calls == 0) operation["reason"] = cost.reason;
    operations.push_back(operation);
  }
  return {{"platform", report.virtual_pc ? "virtual_pc" : "driver"},
          {"operations", operations},
          {"interrupts", report.interrupts ? interrupts_json(*report.interrupts) : nlohmann::json(nullptr)}};
}

}  // namespace ferrox_tool
