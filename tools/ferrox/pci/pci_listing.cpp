// SPDX-License-Identifier: MIT
// Finding PCI functions through the component, and showing them.
#include "tools/ferrox/pci/pci_listing.h"

#include <fmt/format.h>

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstring>

namespace ferrox_tool {

namespace {

constexpr unsigned BusCount = 256;
constexpr unsigned DeviceCount = 32;
constexpr unsigned FunctionCount = 8;
constexpr ferrox::Byte MultiFunction = 0x80;  // header type bit 7, meaningful in function 0
constexpr ferrox::Byte LayoutMask = 0x7F;
constexpr ferrox::Byte BridgeLayout = 1;      // PCI-to-PCI bridge
constexpr ferrox::Byte CardBusLayout = 2;     // CardBus bridge
constexpr unsigned SecondaryBus = 0x19;       // of both bridge layouts
constexpr unsigned ProgrammingInterface = 0x09;
constexpr unsigned HeaderSize = 64;
constexpr unsigned CardBusHeaderSize = 128;
constexpr unsigned ConventionalSize = 256;
constexpr unsigned ExtendedSize = 4096;

const ferrox::Byte* bytes_of(const ferrox::TPciCfg& header) { return reinterpret_cast<const ferrox::Byte*>(&header); }

std::uint16_t class_id(const ferrox::TPciCfg& header) {
  return static_cast<std::uint16_t>(header.ClassCode << 8 | header.SubClass);
}

unsigned shown_size(ferrox::TFerrox32& component, const PciFunctionFound& found, int level) {
  if (level >= 4) {
    // Where the driver or the machine cannot reach past 0xff the read fails and gives all ones; a
    // function with an extended space starts it with a capability header, never all ones.
    if (read_config_dword(component, found.slot, ConventionalSize) != 0xFFFFFFFF) return ExtendedSize;
    return ConventionalSize;
  }
  if (level == 3) return ConventionalSize;
  return (found.header.HeaderType & LayoutMask) == CardBusLayout ? CardBusHeaderSize : HeaderSize;
}

}  // namespace

std::optional<PciSlot> parse_slot(const std::string& text) {
  PciSlot slot;
  unsigned bus = 0, device = 0, function = 0;
  int used = 0;
  bool with_domain = std::count(text.begin(), text.end(), ':') == 2;
  int parsed = with_domain ? std::sscanf(text.c_str(), "%4x:%2x:%2x.%1x%n", &slot.domain, &bus, &device, &function, &used)
                           : std::sscanf(text.c_str(), "%2x:%2x.%1x%n", &bus, &device, &function, &used);
  if (parsed != (with_domain ? 4 : 3) || used != static_cast<int>(text.size())) return {};
  if (text.find_first_of("+- ") != std::string::npos || device >= DeviceCount || function >= FunctionCount) return {};
  slot.bus = static_cast<ferrox::Word>(bus);
  slot.device = static_cast<ferrox::Word>(device);
  slot.function = static_cast<ferrox::Word>(function);
  return slot;
}

std::string slot_text(const PciSlot& slot, bool with_domain) {
  std::string text = fmt::format("{:02x}:{:02x}.{}", slot.bus, slot.device, slot.function);
  return with_domain ? fmt::format("{:04x}:{}", slot.domain, text) : text;
}

std::optional<PciFunctionFound> find_pci_function(ferrox::TFerrox32& component, const PciSlot& slot) {
  PciFunctionFound found{slot, {}};
  if (slot.domain != 0) return {};
  if (!component.PciDeviceInfo(slot.bus, slot.device, slot.function, found.header) || found.header.VendorID == 0xFFFF)
    return {};
  return found;
}

std::vector<PciFunctionFound> find_pci_functions(ferrox::TFerrox32& component) {
  std::vector<PciFunctionFound> functions;
  std::bitset<BusCount> buses;
  buses.set(0);
  // Bridges lead to higher bus numbers, so one pass in order finds every bus reachable from 0.
  for (unsigned bus = 0; bus < BusCount; ++bus) {
    if (!buses.test(bus)) continue;
    for (unsigned device = 0; device < DeviceCount; ++device) {
      for (unsigned function = 0; function < FunctionCount; ++function) {
        std::optional<PciFunctionFound> found = find_pci_function(
            component, {0, static_cast<ferrox::Word>(bus), static_cast<ferrox::Word>(device),
                        static_cast<ferrox::Word>(function)});
        if (!found) {
          if (function == 0) break;
          continue;
        }
        functions.push_back(*found);
        ferrox::Byte layout = found->header.HeaderType & LayoutMask;
        if (layout == BridgeLayout || layout == CardBusLayout) {
          ferrox::Byte secondary = bytes_of(found->header)[SecondaryBus];
          if (secondary > bus) buses.set(secondary);
        }
        if (function == 0 && !(found->header.HeaderType & MultiFunction)) break;
      }
    }
  }
  return functions;
}

std::string pci_function_line(const PciFunctionFound& found, Naming naming, bool with_domain, PciNames& names) {
  const ferrox::TPciCfg& header = found.header;
  std::string line = fmt::format("{} {}: {}", slot_text(found.slot, with_domain), names.class_text(class_id(header), naming),
                                 names.device_text(header.VendorID, header.DeviceID, naming));
  if (header.RevisionID) line += fmt::format(" (rev {:02x})", header.RevisionID);
  return line;
}

std::vector<std::string> list_pci_functions(ferrox::TFerrox32& component) {
  PciNames names;
  std::vector<std::string> lines;
  for (const PciFunctionFound& found : find_pci_functions(component))
    lines.push_back(pci_function_line(found, Naming::Numbers, false, names));
  return lines;
}

std::uint32_t read_config_dword(ferrox::TFerrox32& component, const PciSlot& slot, unsigned offset) {
  auto at = [&](unsigned byte) { return static_cast<ferrox::Word>(offset + byte); };
  std::uint32_t value = component.PciGetDword(slot.bus, slot.device, slot.function, at(0));
  if (value != 0xFFFFFFFF) return value;
  return component.PciGetWord(slot.bus, slot.device, slot.function, at(0)) |
         static_cast<std::uint32_t>(component.PciGetWord(slot.bus, slot.device, slot.function, at(2))) << 16;
}

std::vector<std::uint8_t> read_config_space(ferrox::TFerrox32& component, const PciFunctionFound& found, int level) {
  std::vector<std::uint8_t> bytes(shown_size(component, found, level));
  std::memcpy(bytes.data(), &found.header, HeaderSize);
  for (unsigned offset = HeaderSize; offset < bytes.size(); offset += 4) {
    std::uint32_t dword = read_config_dword(component, found.slot, offset);
    for (unsigned i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(dword >> 8 * i);
  }
  return bytes;
}

nlohmann::json pci_function_json(const PciFunctionFound& found, PciNames& names) {
  const ferrox::TPciCfg& header = found.header;
  auto name_or_null = [](const std::optional<std::string>& name) { return name ? nlohmann::json(*name) : nlohmann::json(); };
  return {{"slot", slot_text(found.slot, true)},
          {"domain", found.slot.domain},
          {"bus", found.slot.bus},
          {"device", found.slot.device},
          {"function", found.slot.function},
          {"class_id", class_id(header)},
          {"prog_if", bytes_of(header)[ProgrammingInterface]},
          {"vendor_id", header.VendorID},
          {"device_id", header.DeviceID},
          {"revision", header.RevisionID},
          {"class_name", name_or_null(names.class_name(class_id(header)))},
          {"vendor_name", name_or_null(names.vendor_name(header.VendorID))},
          {"device_name", name_or_null(names.device_name(header.VendorID, header.DeviceID))}};
}

}  // namespace ferrox_tool
