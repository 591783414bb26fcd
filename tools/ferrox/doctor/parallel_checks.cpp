// SPDX-License-Identifier: MIT
// Where the parallel ports are, and what holds them.
#include "tools/ferrox/doctor/parallel_checks.h"

#include <fmt/format.h>

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "ferrox/hwtypes/PcHardware.h"

namespace ferrox_tool::doctor {

namespace {

constexpr long BiosParallelPorts = 0x408;  // three words: the bases of LPT1..LPT3, 0 where none
constexpr unsigned BiosSlots = 3;
constexpr unsigned PortRegisters = 3;      // data, status, control
constexpr unsigned long IoResource = 0x100;  // the I/O flag of a sysfs resource line
constexpr const char* ParallelClass = "0x0701";

unsigned long number(const std::string& text, int base) { return std::strtoul(text.c_str(), nullptr, base); }

// "0000:03:00.0", as sysfs and /proc/ioports name a PCI function.
bool pci_slot_name(const std::string& name) {
  if (name.size() != 12 || name[4] != ':' || name[7] != ':' || name[10] != '.') return false;
  for (std::size_t at : {0, 1, 2, 3, 5, 6, 8, 9, 11})
    if (!std::isxdigit(static_cast<unsigned char>(name[at]))) return false;
  return true;
}

// /proc/ioports: "  0378-037a : parport0", nested by indentation; every range that overlaps.
std::vector<std::string> port_holders(const SystemView& system, unsigned base) {
  std::vector<std::string> holders;
  for (const std::string& line : lines_of(system.read("/proc/ioports").value_or(""))) {
    std::size_t dash = line.find('-'), colon = line.find(" : ");
    if (dash == std::string::npos || colon == std::string::npos || dash > colon) continue;
    unsigned long first = number(line.substr(0, dash), 16), last = number(line.substr(dash + 1, colon - dash - 1), 16);
    std::string name = line.substr(colon + 3);
    // A bus's window and a function's BAR ("0000:03:00.0") are there whether or not a driver is;
    // only a driver's claim, nested under them, holds the port.
    if (name.rfind("PCI Bus", 0) == 0 || pci_slot_name(name)) continue;
    if (first <= base + PortRegisters - 1 && last >= base) holders.push_back(name);
  }
  return holders;
}

// /proc/interrupts: "  7:   12   0  IO-APIC   7-edge      parport0, lp"; the names follow the
// column that gives the trigger (it ends in "edge", "level" or "eoi"), however many processors.
std::vector<std::string> irq_holders(const SystemView& system, unsigned irq) {
  std::string label = std::to_string(irq) + ":";
  for (const std::string& line : lines_of(system.read("/proc/interrupts").value_or(""))) {
    std::istringstream words(line);
    std::string word;
    if (!(words >> word) || word != label) continue;
    std::string names;
    bool after_trigger = false;
    while (words >> word) {
      if (after_trigger) names += (names.empty() ? "" : " ") + word;
      if (word.ends_with("edge") || word.ends_with("level") || word.ends_with("eoi")) after_trigger = true;
    }
    std::vector<std::string> holders;
    std::istringstream each(names);
    for (std::string name; std::getline(each, name, ',');) {
      std::size_t start = name.find_first_not_of(' ');
      if (start != std::string::npos) holders.push_back(name.substr(start));
    }
    return holders;
  }
  return {};
}

// The kernel's port driver names each port it holds parportN; the drivers that use the port
// through it (the printer driver lp, ppdev) are the devices of /proc/sys/dev/parport/parportN.
std::string with_users(const SystemView& system, const std::string& holder) {
  if (holder.rfind("parport", 0) != 0) return holder;
  std::vector<std::string> users;
  for (const std::string& device : system.entries("/proc/sys/dev/parport/" + holder + "/devices"))
    if (device != "active") users.push_back(device);
  return users.empty() ? holder : fmt::format("{} (used by {})", holder, fmt::join(users, ", "));
}

std::string where(const ParallelPortSeen& port) {
  std::string irq = port.irq ? fmt::format(", IRQ {}", *port.irq) : "";
  return fmt::format("at {:#x}{}{}", port.base, irq, port.slot.empty() ? "" : " (not in the BIOS data area)");
}

bool parport_driver(const std::vector<std::string>& holders) {
  for (const std::string& name : holders)
    if (name.rfind("parport", 0) == 0 || name == "lp" || name == "ppdev") return true;
  return false;
}

Check port_check(const SystemView* system, const std::string& name, const ParallelPortSeen& port) {
  // The component finds the BIOS data area's ports; a card's the lpt commands drive at its base.
  std::string use = port.slot.empty() ? "" : fmt::format("; drive it with: ferrox lpt status --base {:#x}", port.base);
  if (!system) return {name, Verdict::Ok, fmt::format("{}, the virtual PC's{}", where(port), use)};
  std::vector<std::string> ports;
  for (const std::string& holder : port_holders(*system, port.base)) ports.push_back(with_users(*system, holder));
  std::vector<std::string> lines = port.irq ? irq_holders(*system, *port.irq) : std::vector<std::string>{};
  if (ports.empty() && lines.empty()) return {name, Verdict::Ok, fmt::format("{}: no kernel driver holds it{}", where(port), use)};
  std::string held;
  if (!ports.empty()) held = fmt::format("{:#x}-{:#x} held by {}", port.base, port.base + PortRegisters - 1, fmt::join(ports, ", "));
  if (!lines.empty()) held += fmt::format("{}IRQ {} by {}", held.empty() ? "" : ", ", *port.irq, fmt::join(lines, ", "));
  bool parport = parport_driver(ports) || parport_driver(lines);
  return {name, Verdict::Warning,
          fmt::format("{}: {}; that driver works the port too, and takes its interrupts{}", where(port), held, use),
          parport ? "sudo modprobe -r lp ppdev parport_pc" : "unbind the driver that holds it"};
}

}  // namespace

std::optional<std::vector<unsigned>> bios_parallel_ports(const SystemView& system) {
  std::optional<std::string> words = system.read_at("/dev/mem", BiosParallelPorts, 2 * BiosSlots);
  if (!words) return std::nullopt;
  std::vector<unsigned> bases;
  for (unsigned slot = 0; slot < BiosSlots; ++slot) {
    unsigned base = static_cast<unsigned char>((*words)[2 * slot]) | static_cast<unsigned char>((*words)[2 * slot + 1]) << 8;
    if (base != 0) bases.push_back(base);
  }
  return bases;
}

std::optional<unsigned> conventional_irq(unsigned base) {
  std::uint8_t line = base <= 0xFFFF ? ferrox::lpt::ConventionalIrq(static_cast<std::uint16_t>(base)) : 0;
  if (line == 0) return std::nullopt;
  return line;
}

std::vector<ParallelPortSeen> pci_parallel_ports(const SystemView& system) {
  std::vector<ParallelPortSeen> cards;
  for (const std::string& slot : system.entries("/sys/bus/pci/devices")) {
    std::string folder = "/sys/bus/pci/devices/" + slot;
    if (system.value(folder + "/class").value_or("").rfind(ParallelClass, 0) != 0) continue;
    // "start end flags" a BAR; the first with the I/O flag holds the port's registers.
    for (const std::string& line : lines_of(system.read(folder + "/resource").value_or(""))) {
      std::istringstream fields(line);
      std::string start, end, flags;
      if (!(fields >> start >> end >> flags) || !(number(flags, 16) & IoResource) || number(start, 16) == 0) continue;
      ParallelPortSeen card{static_cast<unsigned>(number(start, 16)), std::nullopt, slot};
      if (unsigned long irq = number(system.value(folder + "/irq").value_or("0"), 10); irq != 0) card.irq = irq;
      cards.push_back(card);
      break;
    }
  }
  return cards;
}

std::vector<Check> parallel_checks(const SystemView* system, const std::optional<std::vector<unsigned>>& bios,
                                   const std::vector<ParallelPortSeen>& cards) {
  std::vector<Check> checks;
  if (!bios)
    checks.push_back({"parallel ports", Verdict::Warning,
                      "the BIOS data area's list cannot be read without the driver or /dev/mem", "see the driver's checks above"});
  else if (bios->empty() && cards.empty())
    checks.push_back({"parallel ports", Verdict::Warning,
                      "none: the BIOS data area lists no parallel port and no PCI parallel card was found",
                      "enable the port in the firmware setup, or fit a PCI parallel card"});
  int number = 0;
  for (unsigned base : bios.value_or(std::vector<unsigned>{}))
    checks.push_back(port_check(system, fmt::format("LPT{}", ++number), {base, conventional_irq(base), ""}));
  for (const ParallelPortSeen& card : cards) checks.push_back(port_check(system, "PCI " + card.slot, card));
  return checks;
}

}  // namespace ferrox_tool::doctor
