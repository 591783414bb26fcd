// SPDX-License-Identifier: MIT
// The PCI functions of the virtual PC, found by bus and device/function number. Both ways into
// configuration space, the driver's requests and configuration mechanism #1 on the port bus, go
// through this one bus, so they see the same functions in the same state. A machine's functions
// come from its description: the default chipset, a machine file's dumps, or the host's own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <vector>

#include "ferrox/common/Result.h"
#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/pci/pci_function.h"

namespace ferrox::vpc {

// The default machine's functions: a common PC chipset (host bridge, ISA bridge with IDE and power
// management functions), a VGA adapter and an Ethernet adapter.
VPC_API std::vector<PciFunctionImage> default_pci_chipset();

// The functions of a Linux host, from its sysfs (/sys/bus/pci/devices), so the virtual PC answers
// with the host's own devices and can be compared with what the host reports for them. Reads
// devices_dir/DDDD:BB:DD.F/config (at least the 64-byte header; unreadable bytes are 0) and the
// region sizes from .../resource, ordered by bus, device and function. Functions outside PCI domain
// 0 are left out: the driver's record has no domain. An error when the directory cannot be read.
VPC_API ferrox::Result<std::vector<PciFunctionImage>> load_pci_sysfs(const std::filesystem::path& devices_dir);

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

}  // namespace ferrox::vpc
