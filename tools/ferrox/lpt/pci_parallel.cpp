// SPDX-License-Identifier: MIT
// Finding the parallel ports on PCI cards.
#include "tools/ferrox/lpt/pci_parallel.h"

namespace ferrox_tool {

namespace {

constexpr std::uint32_t IoSpaceBar = 0x1;   // bit 0 of a BAR: I/O space rather than memory
constexpr std::uint32_t IoAddressMask = ~std::uint32_t{0x3};
constexpr int DeviceBars = 6;              // of an ordinary function (header layout 0)
constexpr std::uint8_t LayoutMask = 0x7f;   // the header type without its multi-function bit

}  // namespace

std::optional<ferrox::Word> first_io_bar(const ferrox::TPciCfg& header) {
  for (int bar = 0; bar < DeviceBars; ++bar) {
    std::uint32_t value = header.BaseAddress[bar];
    if ((value & IoSpaceBar) && (value & IoAddressMask) != 0 && (value & IoAddressMask) <= 0xffff)
      return static_cast<ferrox::Word>(value & IoAddressMask);
  }
  return std::nullopt;
}

std::vector<PciParallelPort> find_pci_parallel_ports(ferrox::TFerrox32& component) {
  std::vector<PciParallelPort> ports;
  for (const PciFunctionFound& found : find_pci_functions(component)) {
    const ferrox::TPciCfg& header = found.header;
    if (header.ClassCode != CommunicationClass || header.SubClass != ParallelSubclass || (header.HeaderType & LayoutMask) != 0)
      continue;
    if (std::optional<ferrox::Word> base = first_io_bar(header)) ports.push_back({found.slot, *base, header.InterruptLine});
  }
  return ports;
}

}  // namespace ferrox_tool
