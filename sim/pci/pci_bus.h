// The PCI functions of the virtual PC, found by bus and device/function number. Both ways into
// configuration space, the driver's requests and configuration mechanism #1 on the port bus, go
// through this one bus, so they see the same functions in the same state.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/pci/pci_function.h"

namespace vpc {

class VPC_API PciBus {
 public:
  // Replaces every function with the given ones, in their power-on state.
  void reset(const std::vector<PciFunctionImage>& functions);

  // The function at bus and devfn ((device << 3) | function), or nullptr where none answers.
  PciFunction* find(std::uint8_t bus, std::uint8_t devfn);
  PciFunction* find(const PciLocation& location) { return find(location.bus, location.devfn()); }

 private:
  std::map<PciLocation, PciFunction> functions_;
};

}  // namespace vpc
