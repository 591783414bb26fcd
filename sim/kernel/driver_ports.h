// The driver's single-port requests 4 to 9, carried out on the machine's port bus.
#pragma once

#include "ferrox/vpc/kernel/device_node.h"
#include "ferrox/vpc/platform/port_bus.h"

namespace vpc {

// Registers the six port requests on the node; the bus must outlive it.
void serve_port_requests(DeviceNode& node, PortBus& bus);

}  // namespace vpc
