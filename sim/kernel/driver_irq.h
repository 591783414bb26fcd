// The driver's interrupt requests on the device node.
#pragma once

#include "ferrox/vpc/kernel/device_node.h"
#include "ferrox/vpc/platform/irq_controller.h"

namespace vpc {

void serve_irq_requests(DeviceNode& node, IrqController& irqs);

}  // namespace vpc
