// SPDX-License-Identifier: MIT
// ferrox doctor: what stands between this program and the hardware, one check a line, and the
// command that mends each. Exit 0 when ferrox can reach the hardware, 1 otherwise.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/io.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/description/machine_description.h"
#include "tools/ferrox/command.h"
#include "tools/ferrox/doctor/checks.h"
#include "tools/ferrox/doctor/parallel_checks.h"
#include "tools/ferrox/lpt/pci_parallel.h"

namespace ferrox_tool {

namespace {

using doctor::Check;
using doctor::Verdict;

struct DoctorOptions {
  bool json = false;
};

// The virtual PC is in front when its library is loaded into this process (--virtual, or preloaded).
bool virtual_pc_in_front() { return dlsym(RTLD_DEFAULT, "vpc_start") != nullptr; }

Check virtual_pc_check(bool in_front) {
  if (!in_front) return {"virtual PC", Verdict::Ok, "not in front: what follows is this PC's"};
  const char* machine = std::getenv(ferrox::vpc::MachineFileVariable);
  return {"virtual PC", Verdict::Warning,
          fmt::format("in front ({}): what follows is its machine, not this PC's", machine && *machine ? fmt::format("machine {}", machine) : "built-in machine"),
          "ferrox doctor without --virtual, for this PC"};
}

// Opening the node as the library does; errno says why it did not open.
Check open_check(const std::string& problem) {
  int node = open(ferrox::DriverDevicePath, O_RDONLY | O_CLOEXEC);
  if (node >= 0) {
    close(node);
    return {"open", Verdict::Ok, fmt::format("{} opens for this process", ferrox::DriverDevicePath)};
  }
  int error = errno;
  return {"open", Verdict::Problem, fmt::format("{} does not open: {}", ferrox::DriverDevicePath, std::strerror(error)),
          problem.empty() ? "" : "see the " + problem + " check above"};
}

// Raising the I/O privilege and dropping it again; only where the files left the question open.
Check iopl_check(Check from_files) {
  if (from_files.verdict == Verdict::Problem) return from_files;
  if (iopl(3) != 0) {
    int error = errno;
    if (error == ENOSYS)
      return {"direct access", Verdict::Problem, "this kernel is built without iopl and ioperm (CONFIG_X86_IOPL_IOPERM)",
              "use the driver's path (HardAccess True), or a kernel built with them"};
    return {"direct access", Verdict::Problem, fmt::format("iopl was refused: {}", std::strerror(error)),
            from_files.mend.empty() ? "run as root, outside any seccomp sandbox" : from_files.mend};
  }
  iopl(0);
  return from_files.verdict == Verdict::Ok ? from_files : Check{"direct access", Verdict::Ok, "iopl is granted to this process"};
}

// The component's own view: the BIOS data area's list and the PCI parallel cards, through its driver.
struct ComponentView {
  std::vector<unsigned> bios;
  std::vector<doctor::ParallelPortSeen> cards;
};

std::optional<ComponentView> component_view() {
  auto* component = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  component->OpenDriver();
  std::optional<ComponentView> view;
  if (component->DriverActive()) {
    view.emplace();
    for (int number = 1; number <= component->LPTCount(); ++number) view->bios.push_back(component->LPTAddress(number));
    for (const PciParallelPort& card : find_pci_parallel_ports(*component))
      view->cards.push_back({card.base, card.irq == NoInterruptLine ? std::nullopt : std::optional<unsigned>(card.irq),
                             slot_text(card.slot, true)});
  }
  component->CloseDriver();
  component->Free();
  return view;
}

std::string first_problem_name(const std::vector<Check>& checks) {
  for (const Check& check : checks)
    if (check.verdict == Verdict::Problem) return check.name;
  return "";
}

void append(std::vector<Check>& checks, std::vector<Check> more) { checks.insert(checks.end(), more.begin(), more.end()); }

struct Diagnosis {
  std::vector<Check> checks;
  bool reachable = false;
};

// On the virtual PC the host's files say nothing of what the commands reach: only what the
// virtual PC answers is asked.
Diagnosis diagnose_virtual_pc() {
  Diagnosis found;
  found.checks.push_back(virtual_pc_check(true));
  found.checks.push_back(open_check(""));
  found.checks.push_back(iopl_check({"direct access", Verdict::Ok, "iopl and ioperm are granted by the virtual PC"}));
  found.reachable = found.checks[1].verdict == Verdict::Ok;
  std::optional<ComponentView> view = component_view();
  append(found.checks, doctor::parallel_checks(nullptr, view ? std::optional(view->bios) : std::nullopt,
                                               view ? view->cards : std::vector<doctor::ParallelPortSeen>{}));
  return found;
}

// FERROX_SYSTEM_ROOT names another system's files: nothing of this one is tried then, and the
// verdict is the files'.
Diagnosis diagnose_system() {
  doctor::SystemView system = doctor::SystemView::of_this_system();
  bool this_system = system.at("/") == "/";
  Diagnosis found;
  found.checks.push_back(virtual_pc_check(false));
  append(found.checks, doctor::driver_checks(system));
  std::string problem = first_problem_name(found.checks);
  if (this_system) found.checks.push_back(open_check(problem));
  found.reachable = this_system ? found.checks.back().verdict == Verdict::Ok : problem.empty();
  Check direct = doctor::direct_access_check(system);
  found.checks.push_back(this_system ? iopl_check(direct) : direct);
  std::optional<ComponentView> view = this_system && found.reachable ? component_view() : std::nullopt;
  std::optional<std::vector<unsigned>> bios = view ? std::optional(view->bios) : doctor::bios_parallel_ports(system);
  append(found.checks, doctor::parallel_checks(&system, bios, doctor::pci_parallel_ports(system)));
  return found;
}

void print_text(const Diagnosis& found) {
  for (const Check& check : found.checks)
    std::cout << fmt::format("{:<8} {}: {}{}\n", doctor::verdict_name(check.verdict), check.name, check.why,
                             check.mend.empty() ? "" : " (mend: " + check.mend + ")");
}

nlohmann::json diagnosis_json(const Diagnosis& found) {
  nlohmann::json checks = nlohmann::json::array();
  for (const Check& check : found.checks)
    checks.push_back({{"check", check.name},
                      {"verdict", doctor::verdict_name(check.verdict)},
                      {"why", check.why},
                      {"mend", check.mend.empty() ? nlohmann::json(nullptr) : nlohmann::json(check.mend)}});
  return {{"reachable", found.reachable}, {"virtual_pc", virtual_pc_in_front()}, {"checks", checks}};
}

ferrox::Status run_doctor(const DoctorOptions& options) {
  Diagnosis found = virtual_pc_in_front() ? diagnose_virtual_pc() : diagnose_system();
  if (options.json)
    print_json(diagnosis_json(found));
  else
    print_text(found);
  if (found.reachable) return ferrox::Done{};
  return ferrox::Error{"the hardware cannot be reached from here: the problems above say why"};
}

}  // namespace

void add_doctor_command(CLI::App& app, Command& selected) {
  CLI::App* doctor = app.add_subcommand("doctor", "Say what stands between ferrox and the hardware, and how to mend it");
  auto options = std::make_shared<DoctorOptions>();
  add_json_flag(doctor, options->json);
  doctor->callback([&selected, options] {
    selected = {Needs::Diagnosis, [options](ferrox::TFerrox32*) { return run_doctor(*options); }};
  });
}

}  // namespace ferrox_tool
