// SPDX-License-Identifier: MIT
// What the command line asked for, and how each group of subcommands hands it over: its
// subcommands' callbacks set the selected command, which main runs once the platform is chosen.
// A command ends in a Status; main prints its fault, the one place the tool reports one.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>

#include "ferrox/common/Result.h"
#include "ferrox/component/Ferrox32.h"
#include "tools/ferrox/support/output.h"

namespace ferrox_tool {

enum class Needs {
  Nothing,    // no hardware at all (package)
  Driver,     // a component with its driver open, on the real driver or the virtual PC
  VirtualPc,  // the virtual PC, whatever the host has (demo)
  Program,    // runs another program, on the real driver or the virtual PC (trace, record)
  ProgramOnVirtualPc,  // runs another program on the virtual PC (replay)
  Diagnosis,  // runs on the chosen platform, with or without a driver (doctor)
};

struct Command {
  Needs needs = Needs::Driver;
  // Given the open component when needs is Driver, nullptr otherwise.
  std::function<ferrox::Status(ferrox::TFerrox32*)> run;
  // When needs is Program or ProgramOnVirtualPc, instead of run: given whether the program goes on the virtual PC.
  std::function<ferrox::Status(bool on_virtual_pc)> run_program = {};
  // What was wrong with the command line, found before anything ran: the usage status, and no run.
  ferrox::Status accepted = ferrox::Done{};
};

// A command line that the parser took but that asks for what cannot be.
inline Command refused(ferrox::Error why) { return {Needs::Nothing, nullptr, nullptr, std::move(why)}; }

// A command that works on the open component.
template <class Run>
Command on_driver(Run run) {
  return {Needs::Driver, [run](ferrox::TFerrox32* component) { return run(*component); }};
}

// Makes a parsed subcommand select run(component, options) on the open component. The options are
// shared with the subcommand's parser, which fills them before the callback runs.
template <class Options, class Run>
void on_parsed(CLI::App* command, Command& selected, std::shared_ptr<Options> options, Run run) {
  command->callback([&selected, options, run] {
    selected = on_driver([options, run](ferrox::TFerrox32& component) { return run(component, *options); });
  });
}

// As on_parsed, with plan(options) first: what the options ask, as a Result, which run(component,
// planned) then carries out. A plan's error is a usage fault, found before the platform is chosen.
template <class Options, class Plan, class Run>
void on_planned(CLI::App* command, Command& selected, std::shared_ptr<Options> options, Plan plan, Run run) {
  command->callback([&selected, options, plan, run] {
    auto planned = plan(*options);
    if (!planned) {
      selected = refused(planned.error());
      return;
    }
    selected = on_driver([options, planned = std::move(*planned), run](ferrox::TFerrox32& component) {
      return run(component, *options, planned);
    });
  });
}

void add_port_commands(CLI::App& app, Command& selected);
void add_mem_commands(CLI::App& app, Command& selected);
void add_pci_commands(CLI::App& app, Command& selected);
void add_irq_commands(CLI::App& app, Command& selected);
void add_lpt_commands(CLI::App& app, Command& selected);
void add_package_command(CLI::App& app, Command& selected);
void add_demo_command(CLI::App& app, Command& selected);
void add_trace_commands(CLI::App& app, Command& selected);
void add_latency_command(CLI::App& app, Command& selected);
void add_doctor_command(CLI::App& app, Command& selected);

}  // namespace ferrox_tool
