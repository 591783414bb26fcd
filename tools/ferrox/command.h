// SPDX-License-Identifier: MIT
// What the command line asked for, and how each group of subcommands hands it over: its
// subcommands' callbacks set the selected command, which main runs once the platform is chosen.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>

#include "ferrox/component/Ferrox32.h"
#include "tools/ferrox/output.h"

namespace ferrox_tool {

enum class Needs {
  Nothing,    // no hardware at all (package)
  Driver,     // a component with its driver open, on the real driver or the virtual PC
  VirtualPc,  // the virtual PC, whatever the host has (demo)
  Program,    // runs another program, on the real driver or the virtual PC (trace, record)
  ProgramOnVirtualPc,  // runs another program on the virtual PC (replay)
};

struct Command {
  Needs needs = Needs::Driver;
  // Given the open component when needs is Driver, nullptr otherwise. Returns the exit status.
  std::function<int(ferrox::TFerrox32*)> run;
  // When needs is Program or ProgramOnVirtualPc, instead of run: given whether the program goes on the virtual PC.
  std::function<int(bool on_virtual_pc)> run_program = {};
};

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

void add_port_commands(CLI::App& app, Command& selected);
void add_mem_commands(CLI::App& app, Command& selected);
void add_pci_commands(CLI::App& app, Command& selected);
void add_irq_commands(CLI::App& app, Command& selected);
void add_lpt_commands(CLI::App& app, Command& selected);
void add_package_command(CLI::App& app, Command& selected);
void add_demo_command(CLI::App& app, Command& selected);
void add_trace_commands(CLI::App& app, Command& selected);

}  // namespace ferrox_tool
