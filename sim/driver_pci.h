// The driver's PCI requests: 16 reads configuration space (a register, or a function's header
// into the record), 17 writes a register.
#pragma once

#include "sim/device_node.h"
#include "sim/pci_bus.h"

namespace vpc {

// Registers requests 16 and 17 with the node; they reach the functions of this bus.
void serve_pci_requests(DeviceNode& node, PciBus& bus);

}  // namespace vpc
