// SPDX-License-Identifier: MIT
// Configuration mechanism #1: the address register at 0xCF8 and the data window at 0xCFC..0xCFF,
// through which port instructions reach the configuration space of the PCI functions.
//
//   0xCF8, 32-bit only  CONFIG_ADDRESS: bit 31 enable, 23:16 bus, 15:11 device, 10:8 function,
//                       7:2 dword register; bits 30:24 and 1:0 read as 0
//   0xCFC..0xCFF        CONFIG_DATA: the addressed dword, any byte lane, 8, 16 or 32 bits
#pragma once

#include <cstdint>
#include <optional>

#include "ferrox/hwtypes/PcHardware.h"
#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/pci/pci_bus.h"
#include "ferrox/vpc/platform/port_bus.h"

namespace ferrox::vpc {

class VPC_API PciConfigPorts final : public PortDevice {
 public:
  explicit PciConfigPorts(PciBus& bus) : bus_(bus) {}

  std::uint32_t read(std::uint16_t offset, unsigned width) override;
  void write(std::uint16_t offset, unsigned width, std::uint32_t value) override;

  void reset() { address_ = 0; }

 private:
  // The function that the address register selects while enabled, or nullptr.
  PciFunction* selected();
  // The configuration offset of a data-window port, when the port lies in the window.
  std::optional<unsigned> data_lane(unsigned offset) const;

  PciBus& bus_;
  std::uint32_t address_ = 0;  // CONFIG_ADDRESS
};

}  // namespace ferrox::vpc
