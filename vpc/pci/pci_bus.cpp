// SPDX-License-Identifier: MIT
// The PCI bus of the virtual PC.
#include "ferrox/vpc/pci/pci_bus.h"

namespace ferrox::vpc {

void PciBus::reset(const std::vector<PciFunctionImage>& functions) {
  functions_.clear();
  for (const PciFunctionImage& image : functions) functions_.insert_or_assign(image.location, PciFunction(image));
}

PciFunction* PciBus::find(std::uint8_t bus, std::uint8_t devfn) {
  auto found = functions_.find(PciLocation::from(bus, devfn));
  return found == functions_.end() ? nullptr : &found->second;
}

}  // namespace ferrox::vpc
