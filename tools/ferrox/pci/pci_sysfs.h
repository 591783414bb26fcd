// SPDX-License-Identifier: MIT
// What the host's kernel knows of a function (/sys/bus/pci/devices): the sizes of its regions and
// the driver bound to it. Only for the real driver: the virtual PC's functions are not the host's.
#pragma once

#include <optional>
#include <string>

#include "tools/ferrox/doctor/system_view.h"
#include "tools/ferrox/pci/pci_details.h"

namespace ferrox_tool {

// From .../resource, a line "start end flags" for each BAR and then the ROM; 0 where unknown.
PciRegionSizes sysfs_region_sizes(const doctor::SystemView& system, const PciSlot& slot);

// The name of the driver .../driver links to; nothing where none is bound.
std::optional<std::string> sysfs_driver(const doctor::SystemView& system, const PciSlot& slot);

}  // namespace ferrox_tool
