// SPDX-License-Identifier: MIT
// ferrox: one command for the whole library, on the real driver or the built-in virtual PC.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/description/machine_file.h"
#include "tools/ferrox/command.h"
#include "tools/ferrox/demo/demo.h"
#include "tools/ferrox/doctor/checks.h"
#include "tools/ferrox/support/completion.h"
#include "tools/ferrox/support/platform.h"

namespace ferrox_tool {

void add_demo_command(CLI::App& app, Command& selected) {
  CLI::App* demo = app.add_subcommand("demo", "A guided tour of every subsystem on the virtual PC");
  demo->callback([&selected] {
    selected = {Needs::VirtualPc, [](ferrox::TFerrox32*) -> ferrox::Status {
                  run_demo(std::cout);
                  return ferrox::Done{};
                }};
  });
}

// "ferrox completion bash": the script the build installs as the tool's bash completion. The
// command is in no group, so that no help lists it and no completion offers it.
void add_completion_command(CLI::App& app, Command& selected) {
  CLI::App* completion = app.add_subcommand("completion", "Print the bash completion of the tool")->group("");
  completion->add_option("SHELL")->description("The shell: bash")->required()->check(CLI::IsMember({"bash"}));
  completion->callback([&app, &selected] {
    selected = {Needs::Nothing, [&app](ferrox::TFerrox32*) -> ferrox::Status {
                  std::cout << bash_completion(app);
                  return ferrox::Done{};
                }};
  });
}

// "ferrox help port read": the help of that command, as "ferrox port read --help" prints it.
void add_help_command(CLI::App& app, Command& selected) {
  CLI::App* help = app.add_subcommand("help", "Print the help of the tool, or of a command and its subcommands: ferrox help lpt capture");
  // The words that follow name a command rather than run it: the tool runs one command a time, so
  // they are not taken for a second, and are left to the help as they come.
  app.require_subcommand(0, 1);
  help->prefix_command();
  help->callback([&app, &selected, help] {
    const CLI::App* command = &app;
    std::string path = "ferrox";
    for (const std::string& word : help->remaining()) {
      const CLI::App* sub = nullptr;
      for (const CLI::App* candidate : command->get_subcommands({}))
        if (candidate->get_name() == word && !candidate->get_group().empty()) sub = candidate;
      if (!sub) {
        selected = refused({fmt::format("help: {} has no command \"{}\" (ferrox help{} lists them)", path, word,
                                        path.substr(std::strlen("ferrox")))});
        return;
      }
      path += " " + word;
      command = sub;
    }
    // From the formatter: the command's own help() would hand over to "help", the subcommand given.
    selected = {Needs::Nothing, [command, path](ferrox::TFerrox32*) -> ferrox::Status {
                  std::cout << command->get_formatter()->make_help(command, path, CLI::AppFormatMode::Normal);
                  return ferrox::Done{};
                }};
  });
}

namespace {

// The component of a command, with its driver open, for the command's lifetime.
class Session {
 public:
  Session() : component_(ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr)) { component_->OpenDriver(); }
  ~Session() {
    component_->CloseDriver();
    component_->Free();
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  ferrox::TFerrox32& component() { return *component_; }

 private:
  ferrox::TFerrox32* component_;
};

// Where the restarted program finds the machine file; relative names are taken from here. The
// virtual PC reads it in the restarted program, where the reason it cannot would be lost: it is
// said here, while the tool still can.
ferrox::Status pass_machine_file(const std::string& machine) {
  std::error_code error;
  std::filesystem::path file = std::filesystem::absolute(machine, error);
  std::filesystem::file_status status = std::filesystem::status(file, error);
  if (!std::filesystem::exists(status)) return ferrox::Error{"machine file " + machine + " not found"};
  if (std::filesystem::is_directory(status)) return ferrox::Error{"machine file " + machine + " is a directory, not a file"};
  if (!std::filesystem::is_regular_file(status)) return ferrox::Error{"machine file " + machine + " is not a regular file"};
  if (access(file.c_str(), R_OK) != 0)
    return ferrox::Error{"machine file " + machine + " cannot be read: " + std::strerror(errno)};
  setenv(ferrox::vpc::MachineFileVariable, file.c_str(), 1);
  return ferrox::Done{};
}

std::string platform_line(Platform platform, const std::string& machine) {
  if (platform == Platform::RealDriver) return "ferrox: on the real driver /dev/ferrox";
  return "ferrox: on the virtual PC, " + (machine.empty() ? std::string("built-in machine") : "machine " + machine);
}

// The command line stopped at a group ("ferrox", "ferrox port"): say what may follow.
int missing_subcommand(const CLI::App& app) {
  const CLI::App* group = &app;
  std::string path = "ferrox";
  for (bool deeper = true; deeper;) {
    deeper = false;
    for (const CLI::App* sub : group->get_subcommands({}))
      if (sub->parsed()) {
        group = sub;
        path += " " + sub->get_name();
        deeper = true;
        break;
      }
  }
  std::vector<std::string> names;
  for (const CLI::App* sub : group->get_subcommands({}))
    if (!sub->get_group().empty()) names.push_back(sub->get_name());  // not the hidden ones
  return refuse("\"" + path + "\" needs a subcommand: " + fmt::format("{}", fmt::join(names, ", ")) + " (--help tells more)");
}

// A command line CLI11 could not take: the same "ferrox: ..." as every other fault, and the
// usage status. Help and --version are not faults: CLI11 prints them.
int parse_fault(const CLI::App& app, const CLI::ParseError& error) {
  // Help that could not be written (a full disk, a closed pipe) is a fault like any other output's.
  if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(error) != 0 ? ExitFailed : flush_output();
  return refuse(std::string(error.what()) + " (--help tells more)");
}

// The hardware was wanted and cannot be reached: the doctor's reason, and the way to the virtual PC.
ferrox::Error no_usable_driver() {
  return ferrox::Error{"no usable driver: " + doctor::driver_problem(doctor::SystemView::of_this_system()) +
                       "; --virtual runs on the virtual PC instead, ferrox doctor tells more"};
}

bool driver_node_present() { return doctor::SystemView::of_this_system().exists(ferrox::DriverDevicePath); }

ferrox::Status run(const Command& command, bool want_virtual, const std::string& machine, char** argv) {
  if (command.needs == Needs::Nothing) return command.run(nullptr);
  if (!machine.empty()) FERROX_TRY(pass_machine_file(machine));
  bool virtual_pc = virtual_pc_wanted(want_virtual || !machine.empty());
  if (command.run_program) {
    bool on_virtual_pc = command.needs == Needs::ProgramOnVirtualPc || virtual_pc;
    if (!on_virtual_pc && !driver_node_present()) return no_usable_driver();
    std::cerr << platform_line(on_virtual_pc ? Platform::VirtualPc : Platform::RealDriver, machine) << std::endl;
    return command.run_program(on_virtual_pc);
  }
  FERROX_TRY_ASSIGN(Platform platform, choose_platform(virtual_pc || command.needs == Needs::VirtualPc, argv));
  if (platform == Platform::RealDriver && command.needs == Needs::Driver && !driver_node_present()) return no_usable_driver();
  // The doctor's first check says where it runs, with or without a driver.
  if (command.needs == Needs::Diagnosis) return command.run(nullptr);
  std::cerr << platform_line(platform, machine) << std::endl;
  if (command.needs != Needs::Driver) return command.run(nullptr);
  Session session;
  if (!session.component().DriverActive()) {
    if (platform == Platform::RealDriver) return no_usable_driver();
    return ferrox::Error{"cannot open /dev/ferrox: the driver is not loaded, or this user may not use it"};
  }
  return command.run(&session.component());
}

}  // namespace

}  // namespace ferrox_tool

int main(int argc, char** argv) {
  using namespace ferrox_tool;
  CLI::App app{"ferrox: PC hardware from user space: I/O ports, physical memory, PCI, IRQs, the parallel port.\n"
               "Runs on the real driver /dev/ferrox; on the built-in virtual PC with --virtual (or FERROX_VIRTUAL=1),\n"
               "a fresh one for each command: what one command writes, the next does not see.\n"
               "Numbers are decimal, or hexadecimal with 0x; output is hexadecimal. Widths as setpci writes them:\n"
               "0x378.b, 0x1000.w, 04.l; a write as 0x1000.l=0x12345678.",
               "ferrox"};
  app.footer("Exit status: 0 success, 1 the operation failed, 2 the command line was not understood.");
  app.set_version_flag("--version", std::string("ferrox ") + FERROX_VERSION);
  bool want_virtual = false;
  std::string machine;
  app.add_flag("--virtual", want_virtual, "Run on the built-in virtual PC instead of the hardware (also FERROX_VIRTUAL=1)");
  app.add_option("--machine", machine, "Run on the virtual PC described by this machine file (docs/machine-file.md)")
      ->type_name("FILE");

  Command selected;
  add_port_commands(app, selected);
  add_mem_commands(app, selected);
  add_pci_commands(app, selected);
  add_irq_commands(app, selected);
  add_lpt_commands(app, selected);
  add_package_command(app, selected);
  add_demo_command(app, selected);
  add_trace_commands(app, selected);
  add_latency_command(app, selected);
  add_doctor_command(app, selected);
  add_help_command(app, selected);
  add_completion_command(app, selected);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return parse_fault(app, error);
  }
  // The one place a fault is printed: its place (file and line, where it names them) and what
  // went wrong, with the status it means.
  if (!selected.accepted) return refuse(selected.accepted.error().Text());
  if (!selected.run && !selected.run_program) return missing_subcommand(app);
  ferrox::Status done = run(selected, want_virtual, machine, argv);
  int status = done ? ExitSuccess : fail(done.error().Text());
  int written = flush_output();
  return status != ExitSuccess ? status : written;
}
