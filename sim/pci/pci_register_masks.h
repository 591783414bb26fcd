// Which bits of a PCI function's configuration space software can change, worked out from its
// header the way the standard header layouts define them. Registers past the 64-byte header belong
// to each device alone and stay read-only.
#pragma once

#include "ferrox/vpc/pci/pci_function.h"

namespace vpc {

struct PciRegisterMasks {
  PciConfigBytes writable{};      // 1: the bit takes the value written
  PciConfigBytes clear_on_one{};  // 1: writing 1 clears the bit
};

PciRegisterMasks pci_register_masks(const PciFunctionImage& image);

}  // namespace vpc
