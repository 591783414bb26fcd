// The PCI functions of the virtual PC's default machine: a common PC chipset (host bridge, ISA
// bridge with IDE and power management functions), a VGA adapter and an Ethernet adapter.
#pragma once

#include <vector>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/pci/pci_function.h"

namespace vpc {

VPC_API std::vector<PciFunctionImage> default_pci_chipset();

}  // namespace vpc
