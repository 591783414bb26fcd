// SPDX-License-Identifier: MIT
// Decoding a function's header, and lspci's machine-readable forms.
#include "tools/ferrox/pci/pci_details.h"

#include <fmt/format.h>

#include <bitset>

#include "ferrox/hwtypes/PciHeader.h"

namespace ferrox_tool {

namespace {

using ferrox::pci_header::BaseAddress0;
using ferrox::pci_header::CacheLineSize;
using ferrox::pci_header::CapabilitiesPointer;
using ferrox::pci_header::Command;
using ferrox::pci_header::HeaderType;
using ferrox::pci_header::InterruptLine;
using ferrox::pci_header::InterruptPin;
using ferrox::pci_header::LatencyTimer;
using ferrox::pci_header::MaxLatency;
using ferrox::pci_header::MinGrant;
using ferrox::pci_header::ProgrammingInterface;
using ferrox::pci_header::Status;
constexpr unsigned RomSlot = 6;  // in PciRegionSizes

constexpr std::uint16_t IoDecode = 1 << 0;
constexpr std::uint16_t MemoryDecode = 1 << 1;
constexpr std::uint16_t BusMaster = 1 << 2;
constexpr std::uint16_t HasCapabilities = 1 << 4;
constexpr std::uint32_t IoBar = 1 << 0;
constexpr std::uint32_t MemoryTypeMask = 3 << 1;
constexpr std::uint32_t Below1M = 1 << 1;
constexpr std::uint32_t Memory64 = 2 << 1;
constexpr std::uint32_t Prefetchable = 1 << 3;
constexpr std::uint32_t RomEnable = 1 << 0;
constexpr std::uint32_t RomAddressMask = 0xFFFFF800;

// The header layouts' BARs and where their expansion ROM register is (0: none).
struct Layout {
  unsigned bars;
  unsigned rom;
};

Layout layout_of(const std::vector<std::uint8_t>& config) {
  switch (config[HeaderType] & 0x7F) {
    case 1: return {2, 0x38};  // PCI-to-PCI bridge
    case 2: return {1, 0};     // CardBus bridge
    default: return {6, 0x30};
  }
}

std::uint16_t word_at(const std::vector<std::uint8_t>& config, unsigned offset) {
  return static_cast<std::uint16_t>(config[offset] | config[offset + 1] << 8);
}

std::uint32_t dword_at(const std::vector<std::uint8_t>& config, unsigned offset) {
  return static_cast<std::uint32_t>(word_at(config, offset) | word_at(config, offset + 2) << 16);
}

// "+" or "-" for each named bit from bit 0 up, as lspci shows flags ("I/O+ Mem- ...").
std::string bit_flags(unsigned value, std::initializer_list<std::pair<unsigned, const char*>> bits) {
  std::string text;
  for (auto [bit, name] : bits) text += fmt::format("{}{}{}", text.empty() ? "" : " ", name, value >> bit & 1 ? '+' : '-');
  return text;
}

std::string control_line(std::uint16_t command) {
  return "Control: " + bit_flags(command, {{0, "I/O"}, {1, "Mem"}, {2, "BusMaster"}, {3, "SpecCycle"}, {4, "MemWINV"},
                                           {5, "VGASnoop"}, {6, "ParErr"}, {7, "Stepping"}, {8, "SERR"},
                                           {9, "FastB2B"}, {10, "DisINTx"}});
}

std::string status_line(std::uint16_t status) {
  static constexpr const char* Devsel[] = {"fast", "medium", "slow", "??"};
  return fmt::format("Status: {} DEVSEL={} {}",
                     bit_flags(status, {{4, "Cap"}, {5, "66MHz"}, {6, "UDF"}, {7, "FastB2B"}, {8, "ParErr"}}),
                     Devsel[status >> 9 & 3],
                     bit_flags(status, {{11, ">TAbort"}, {12, "<TAbort"}, {13, "<MAbort"}, {14, ">SERR"}, {15, "<PERR"},
                                        {3, "INTx"}}));
}

// " [size=128K]": the largest unit that divides the size; nothing for an unknown size.
std::string size_text(std::uint64_t size) {
  if (size == 0) return "";
  static constexpr const char* Units[] = {"", "K", "M", "G", "T"};
  unsigned unit = 0;
  while (unit + 1 < std::size(Units) && size >= 1024 && size % 1024 == 0) {
    size /= 1024;
    ++unit;
  }
  return fmt::format(" [size={}{}]", size, Units[unit]);
}

std::string address_or_unassigned(std::uint64_t address, const char* format) {
  return address ? fmt::format(fmt::runtime(format), address) : "<unassigned>";
}

// "Region 0: Memory at febc0000 (32-bit, non-prefetchable) [size=128K]" for each BAR in use; a
// 64-bit BAR takes the next register as its upper half, which is no region of its own.
void add_regions(std::vector<std::string>& lines, const PciFunctionDetails& details) {
  const std::vector<std::uint8_t>& config = details.config;
  std::uint16_t command = word_at(config, Command);
  Layout layout = layout_of(config);
  for (unsigned bar = 0; bar < layout.bars; ++bar) {
    unsigned region = bar;
    std::uint32_t value = dword_at(config, BaseAddress0 + 4 * bar);
    if (value == 0 && details.sizes[region] == 0) continue;
    std::string line = fmt::format("Region {}: ", region);
    if (value & IoBar) {
      line += "I/O ports at " + address_or_unassigned(value & ~3u, "{:04x}");
      if (!(command & IoDecode)) line += " [disabled]";
    } else {
      std::uint64_t address = value & ~0xFu;
      std::uint32_t type = value & MemoryTypeMask;
      if (type == Memory64 && bar + 1 < layout.bars) address |= std::uint64_t{dword_at(config, BaseAddress0 + 4 * ++bar)} << 32;
      line += fmt::format("Memory at {} ({}, {})", address_or_unassigned(address, "{:08x}"),
                          type == Memory64 ? "64-bit" : type == Below1M ? "low-1M" : "32-bit",
                          value & Prefetchable ? "prefetchable" : "non-prefetchable");
      if (!(command & MemoryDecode)) line += " [disabled]";
    }
    lines.push_back(line + size_text(details.sizes[region]));
  }
  if (layout.rom == 0) return;
  std::uint32_t rom = dword_at(config, layout.rom);
  if (rom == 0 && details.sizes[RomSlot] == 0) return;
  std::string line = "Expansion ROM at " + address_or_unassigned(rom & RomAddressMask, "{:08x}");
  if (!(rom & RomEnable)) line += " [disabled]";
  else if (!(command & MemoryDecode)) line += " [disabled by cmd]";
  lines.push_back(line + size_text(details.sizes[RomSlot]));
}

// The name lspci gives a capability, as the start of its line.
std::string capability_name(const std::vector<std::uint8_t>& config, unsigned at) {
  static constexpr const char* Names[] = {
      nullptr, nullptr, "AGP", "Vital Product Data", "Slot ID", "MSI", "CompactPCI hot-swap", "PCI-X",
      "HyperTransport", "Vendor Specific Information", "Debug port", "CompactPCI central resource control",
      "Hot-plug capable", "Subsystem", "AGP3", "Secure device", "Express", "MSI-X", "SATA HBA",
      "PCI Advanced Features", "Enhanced Allocation (EA)"};
  unsigned id = config[at];
  if (id == 1) return fmt::format("Power Management version {}", config[at + 2] & 7);
  if (id < std::size(Names) && Names[id]) return Names[id];
  return fmt::format("Capability ID {:#04x}", id);
}

void add_capabilities(std::vector<std::string>& lines, const std::vector<std::uint8_t>& config) {
  for (const PciCapability& capability : pci_capabilities(config))
    lines.push_back(fmt::format("Capabilities: [{:02x}] {}", capability.offset, capability.name));
}

// Only a bus master has a latency timer to speak of.
void add_latency(std::vector<std::string>& lines, const std::vector<std::uint8_t>& config) {
  unsigned latency = config[LatencyTimer], cache_line = config[CacheLineSize];
  if (!(word_at(config, Command) & BusMaster)) return;
  std::string line = fmt::format("Latency: {}", latency);
  if (layout_of(config).bars == 6) {
    unsigned min = config[MinGrant] * 250, max = config[MaxLatency] * 250;
    if (min && max) line += fmt::format(" ({}ns min, {}ns max)", min, max);
    else if (min) line += fmt::format(" ({}ns min)", min);
    else if (max) line += fmt::format(" ({}ns max)", max);
  }
  if (cache_line) line += fmt::format(", Cache Line Size: {} bytes", cache_line * 4);
  lines.push_back(line);
}

bool has_subsystem(const PciIds& ids) { return ids.subsystem_vendor != 0 || ids.subsystem_device != 0; }

}  // namespace

// Along the list from the header's pointer; a list that loops or leaves the 256 bytes ends where it does.
std::vector<PciCapability> pci_capabilities(const std::vector<std::uint8_t>& config) {
  std::vector<PciCapability> capabilities;
  if (config.size() < 256 || !(word_at(config, Status) & HasCapabilities)) return capabilities;
  std::bitset<256> seen;
  for (unsigned at = config[CapabilitiesPointer] & ~3u; at >= 0x40 && at < 0xFF && !seen.test(at);
       at = config[at + 1] & ~3u) {
    seen.set(at);
    capabilities.push_back({at, config[at], capability_name(config, at)});
  }
  return capabilities;
}

std::string verbose_line(const PciFunctionFound& found, Naming naming, bool with_domain, PciNames& names) {
  std::string line = pci_function_line(found, naming, with_domain, names);
  const ferrox::TPciCfg& header = found.header;
  std::optional<std::string> name = names.programming_interface_name(
      static_cast<std::uint16_t>(header.ClassCode << 8 | header.SubClass), header.ProgIf);
  if (name) return line + fmt::format(" (prog-if {:02x} [{}])", header.ProgIf, *name);
  if (header.ProgIf) return line + fmt::format(" (prog-if {:02x})", header.ProgIf);
  return line;
}

PciIds pci_ids(const PciFunctionFound& found) {
  const ferrox::TPciCfg& header = found.header;
  // Only the general layout keeps its subsystem in the header.
  if ((header.HeaderType & 0x7F) != 0) return {header.VendorID, header.DeviceID, 0, 0};
  return {header.VendorID, header.DeviceID, header.SubsystemVendorID, header.SubsystemID};
}

std::optional<std::string> subsystem_line(const PciFunctionFound& found, Naming naming, PciNames& names) {
  PciIds ids = pci_ids(found);
  if (!has_subsystem(ids)) return {};
  return "Subsystem: " + names.subsystem_text(ids, naming);
}

std::vector<std::string> decoded_header(const PciFunctionFound& found, const PciFunctionDetails& details,
                                        Naming naming, PciNames& names) {
  const std::vector<std::uint8_t>& config = details.config;
  std::vector<std::string> lines;
  if (std::optional<std::string> subsystem = subsystem_line(found, naming, names)) lines.push_back(*subsystem);
  lines.push_back(control_line(word_at(config, Command)));
  lines.push_back(status_line(word_at(config, Status)));
  add_latency(lines, config);
  if (unsigned pin = config[InterruptPin]; pin >= 1 && pin <= 4)
    lines.push_back(fmt::format("Interrupt: pin {} routed to IRQ {}", static_cast<char>('A' + pin - 1), config[InterruptLine]));
  add_regions(lines, details);
  add_capabilities(lines, config);
  return lines;
}

namespace {

// The size a register decodes, from the address bits that read back as ones (0: none).
std::uint64_t decoded_size(std::uint64_t address_bits, std::uint64_t space) {
  return address_bits ? space - address_bits : 0;
}

}  // namespace

PciRegionSizes probe_region_sizes(ferrox::TFerrox32& component, const PciFunctionFound& found) {
  const PciSlot& at = found.slot;
  auto read = [&](unsigned offset) { return read_config_dword(component, at, offset); };
  auto write = [&](unsigned offset, std::uint32_t value) {
    component.PciSetDword(at.bus, at.device, at.function, static_cast<ferrox::Word>(offset), value);
  };
  // The address bits a register keeps of all ones written to it; then it holds its own again.
  auto probe = [&](unsigned offset, std::uint32_t ones) -> std::uint64_t {
    std::uint32_t old = read(offset);
    write(offset, ones);
    std::uint32_t kept = read(offset);
    write(offset, old);
    return kept;
  };
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&found.header);
  std::vector<std::uint8_t> header(bytes, bytes + sizeof found.header);
  Layout layout = layout_of(header);
  PciRegionSizes sizes{};
  // No decoding while a BAR holds all ones, so that it answers no other address meanwhile.
  std::uint16_t command = found.header.Command;
  component.PciSetWord(at.bus, at.device, at.function, Command,
                       static_cast<ferrox::Word>(command & ~(IoDecode | MemoryDecode)));
  for (unsigned bar = 0; bar < layout.bars; ++bar) {
    unsigned offset = BaseAddress0 + 4 * bar;
    std::uint32_t value = dword_at(header, offset);
    if (value & IoBar) {
      sizes[bar] = decoded_size(probe(offset, 0xFFFFFFFF) & 0xFFFC, 0x10000);  // 16 bits of I/O address
    } else if ((value & MemoryTypeMask) == Memory64 && bar + 1 < layout.bars) {
      std::uint64_t low = probe(offset, 0xFFFFFFFF) & ~0xFull;
      std::uint64_t bits = probe(offset + 4, 0xFFFFFFFF) << 32 | low;
      sizes[bar++] = bits ? ~bits + 1 : 0;
    } else {
      sizes[bar] = decoded_size(probe(offset, 0xFFFFFFFF) & ~0xFull, 1ull << 32);
    }
  }
  if (layout.rom) sizes[RomSlot] = decoded_size(probe(layout.rom, RomAddressMask) & RomAddressMask, 1ull << 32);
  component.PciSetWord(at.bus, at.device, at.function, Command, command);
  return sizes;
}

std::string machine_readable(const PciFunctionFound& found, const PciFunctionDetails& details, Naming naming,
                             bool with_domain, int level, bool verbose, PciNames& names) {
  const ferrox::TPciCfg& header = found.header;
  PciIds ids = pci_ids(found);
  std::string slot = slot_text(found.slot, with_domain);
  std::string class_name = names.class_text(static_cast<std::uint16_t>(header.ClassCode << 8 | header.SubClass), naming);
  std::string vendor = names.vendor_text(ids.vendor, naming), device = names.device_only_text(ids.vendor, ids.device, naming);
  bool subsystem = has_subsystem(ids);
  std::string subsystem_vendor = subsystem ? names.subsystem_vendor_text(ids, naming) : "";
  std::string subsystem_device = subsystem ? names.subsystem_device_text(ids, naming) : "";
  if (!verbose) {
    std::string line = fmt::format("{} \"{}\" \"{}\" \"{}\"", slot, class_name, vendor, device);
    if (header.RevisionID) line += fmt::format(" -r{:02x}", header.RevisionID);
    return line + fmt::format(" -p{:02x} \"{}\" \"{}\"\n", header.ProgIf, subsystem_vendor, subsystem_device);
  }
  std::string text = fmt::format("{}:\t{}\nClass:\t{}\nVendor:\t{}\nDevice:\t{}\n", level >= 2 ? "Slot" : "Device", slot,
                                 class_name, vendor, device);
  if (subsystem) text += fmt::format("SVendor:\t{}\nSDevice:\t{}\n", subsystem_vendor, subsystem_device);
  if (header.RevisionID) text += fmt::format("Rev:\t{:02x}\n", header.RevisionID);
  text += fmt::format("ProgIf:\t{:02x}\n", header.ProgIf);
  if (details.driver) text += fmt::format("Driver:\t{}\n", *details.driver);
  return text + "\n";
}

}  // namespace ferrox_tool
