// The tour, one section per subsystem.
#include "tools/ferrox/demo.h"

#include <fmt/format.h>
#include <string>

#include "component/Ferrox32.h"
#include "tools/ferrox/pci_listing.h"

namespace ferrox_tool {

namespace {

const char* yes_no(bool value) { return value ? "True" : "False"; }

std::string masked_lines(const ferrox::TFerrox32& component) {
  std::string lines;
  for (int line = 0; line < ferrox::IrqLineCount; ++line)
    if (component.fGetMasked(static_cast<ferrox::Byte>(line))) lines += (lines.empty() ? "" : " ") + std::to_string(line);
  return lines.empty() ? "none" : lines;
}

void section(std::ostream& out, const char* title) { out << "\n== " << title << "\n"; }

void show_driver(std::ostream& out, ferrox::TFerrox32& component) {
  section(out, "Driver connection");
  out << fmt::format("new component: HardAccess {}, LPTNumber {}, driver active {}\n", yes_no(component.HardAccess()),
                     component.LPTNumber(), yes_no(component.DriverActive()));
  component.OpenDriver();
  out << fmt::format("OpenDriver: driver active {}, descriptor {}, HardAccess {}\n", yes_no(component.DriverActive()),
                     component.DriverHandle(), yes_no(component.HardAccess()));
  out << "masked IRQ lines: " << masked_lines(component) << "\n";
}

void show_pci(std::ostream& out, ferrox::TFerrox32& component) {
  section(out, "PCI configuration");
  for (const std::string& line : list_pci_functions(component)) out << line << "\n";
}

}  // namespace

int run_demo(std::ostream& out) {
  auto* component = framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  show_driver(out, *component);
  show_pci(out, *component);
  component->CloseDriver();
  out << fmt::format("CloseDriver: driver active {}\n", yes_no(component->DriverActive()));
  component->Free();
  return 0;
}

}  // namespace ferrox_tool
