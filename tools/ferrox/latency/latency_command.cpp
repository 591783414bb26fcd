// SPDX-License-Identifier: MIT
// ferrox latency: what the library's calls and an interrupt's delivery cost on this machine, as
// people sizing a step rate or a trigger's jitter need them.
#include <dlfcn.h>

#include <fmt/format.h>

#include <iostream>
#include <memory>

#include "tools/ferrox/command.h"
#include "tools/ferrox/latency/latency_report.h"
#include "tools/ferrox/support/numbers.h"

namespace ferrox_tool {

namespace {

constexpr unsigned MostCalls = 10'000'000;
constexpr unsigned MostSamples = 1'000'000;

struct LatencyOptions {
  unsigned calls = 10'000;
  InterruptPlan plan;
  bool json = false;
  std::string png;
};

// The virtual PC, preloaded, has its control entries in the process; a real driver has none.
bool on_virtual_pc() { return dlsym(RTLD_DEFAULT, "vpc_start") != nullptr; }

ferrox::Status measure(ferrox::TFerrox32& component, const LatencyOptions& options) {
  FERROX_TRY(select_port(component, options.plan));
  LatencyReport report{on_virtual_pc(), measure_operations(component, options.calls), std::nullopt};
  ferrox::Result<InterruptLatency> interrupts = measure_interrupt_latency(component, options.plan);
  if (interrupts) report.interrupts = std::move(*interrupts);
  if (options.json)
    print_json(report_json(report));
  else
    print_text(std::cout, report);
  if (!options.png.empty()) FERROX_TRY(write_latency_png(options.png, report));
  // The calls' figures stand; the interrupts' fault is the run's.
  if (!interrupts) return ferrox::Error{"interrupt latency not measured: " + interrupts.error().Text()};
  return ferrox::Done{};
}

}  // namespace

void add_latency_command(CLI::App& app, Command& selected) {
  auto options = std::make_shared<LatencyOptions>();
  CLI::App* latency = app.add_subcommand(
      "latency",
      "Time a port read by each path, a 4 KiB window read and a PCI read, and an interrupt's latency: on a "
      "parallel port with a loopback plug (or a wire from an output to nAck), from the write to the handler; "
      "on a port that interrupts on a control write alone (QEMU's), from that write; otherwise the timer's intervals");
  latency->add_option("--calls", options->calls, fmt::format("Calls timed of each operation, 1..{}", MostCalls))
      ->transform(number_in(1, MostCalls, "calls"));
  latency->add_option("--samples", options->plan.samples,
                      fmt::format("Interrupts timed, 1..{} (1000 on a loopback, 40 on the timer)", MostSamples))
      ->transform(number_in(1, MostSamples, "samples"));
  latency->add_option("--port,-p", options->plan.port, "The parallel port of the loopback, LPT1..LPT3 (1)")
      ->transform(number_in(1, ferrox::LptSlotCount, "port"));
  latency->add_option("--irq", options->plan.line, "The parallel port's IRQ line (5 for 0x278, else 7)")
      ->transform(number_in(0, ferrox::IrqLineCount - 1, "IRQ line"));
  add_json_flag(latency, options->json);
  latency->add_option("--png", options->png, "Also draw the figures and the histogram into FILE.png")->type_name("FILE");
  on_parsed(latency, selected, options, measure);
}

}  // namespace ferrox_tool
