// PCI functions taken from a Linux host's sysfs (/sys/bus/pci/devices), so the virtual PC answers
// with the host's own devices and can be compared with what the host reports for them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/pci/pci_function.h"

namespace vpc {

struct VPC_API PciSysfsLoad {
  std::vector<PciFunctionImage> functions;  // ordered by bus, device, function
  std::string error;                        // empty when the directory could be read
};

// Reads devices_dir/DDDD:BB:DD.F/config (at least the 64-byte header; unreadable bytes are 0) and
// the region sizes from .../resource. Functions outside PCI domain 0 are left out: the driver's
// record has no domain.
VPC_API PciSysfsLoad load_pci_sysfs(const std::filesystem::path& devices_dir);

// The environment variable that makes a process's first machine take the PCI functions of the
// sysfs devices directory it names (FERROX_VPC_PCI_SYSFS=/sys/bus/pci/devices).
constexpr const char* PciSysfsVariable = "FERROX_VPC_PCI_SYSFS";

// The functions of the directory named by the environment, when it is set. A directory that
// cannot be read is reported on standard error and gives nothing.
std::optional<std::vector<PciFunctionImage>> pci_functions_from_environment();

}  // namespace vpc
