// The driver's PCI requests: 16 reads configuration space (a register, or a function's header
// into the record), 17 writes a register.
#pragma once

#include "ferrox/vpc/kernel/device_node.h"
#include "ferrox/vpc/pci/pci_bus.h"

namespace vpc {

// Registers requests 16 and 17 with the node; they reach the functions of this bus.
void serve_pci_requests(DeviceNode& node, PciBus& bus);

}  // namespace vpc
