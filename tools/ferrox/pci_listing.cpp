// Listing PCI functions through the component.
#include "tools/ferrox/pci_listing.h"

#include <fmt/format.h>

#include <bitset>
#include <cstdint>

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

}  // namespace

std::string pci_function_line(unsigned bus, unsigned device, unsigned function, const ferrox::TPciCfg& cfg) {
  std::string line = fmt::format("{:02x}:{:02x}.{} {:02x}{:02x}: {:04x}:{:04x}", bus, device, function, cfg.ClassCode,
                                 cfg.SubClass, cfg.VendorID, cfg.DeviceID);
  if (cfg.RevisionID) line += fmt::format(" (rev {:02x})", cfg.RevisionID);
  return line;
}

std::vector<std::string> list_pci_functions(ferrox::TFerrox32& component) {
  std::vector<std::string> lines;
  std::bitset<BusCount> buses;
  buses.set(0);
  // Bridges lead to higher bus numbers, so one pass in order finds every bus reachable from 0.
  for (unsigned bus = 0; bus < BusCount; ++bus) {
    if (!buses.test(bus)) continue;
    for (unsigned device = 0; device < DeviceCount; ++device) {
      for (unsigned function = 0; function < FunctionCount; ++function) {
        ferrox::TPciCfg cfg;
        bool present = component.PciDeviceInfo(static_cast<ferrox::Word>(bus), static_cast<ferrox::Word>(device),
                                               static_cast<ferrox::Word>(function), cfg) &&
                       cfg.VendorID != 0xFFFF;
        if (!present) {
          if (function == 0) break;
          continue;
        }
        lines.push_back(pci_function_line(bus, device, function, cfg));
        ferrox::Byte layout = cfg.HeaderType & LayoutMask;
        if (layout == BridgeLayout || layout == CardBusLayout) {
          ferrox::Byte secondary = reinterpret_cast<const ferrox::Byte*>(&cfg)[SecondaryBus];
          if (secondary > bus) buses.set(secondary);
        }
        if (function == 0 && !(cfg.HeaderType & MultiFunction)) break;
      }
    }
  }
  return lines;
}

}  // namespace ferrox_tool
