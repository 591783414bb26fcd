// The driver's interrupt requests on the device node.
#pragma once

#include "sim/device_node.h"
#include "sim/irq_controller.h"

namespace vpc {

void serve_irq_requests(DeviceNode& node, IrqController& irqs);

}  // namespace vpc
