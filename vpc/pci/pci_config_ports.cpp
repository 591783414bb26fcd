// SPDX-License-Identifier: MIT
// Configuration mechanism #1.
#include "ferrox/vpc/pci/pci_config_ports.h"

namespace ferrox::vpc {

namespace {

// Offsets within the claimed ports.
constexpr std::uint16_t ConfigAddress = 0;
constexpr std::uint16_t ConfigData = pci_config::DataPort - pci_config::AddressPort;
constexpr std::uint16_t ConfigDataEnd = pci_config::PortsLength;

constexpr std::uint32_t AddressEnable = pci_config::AddressEnable;
constexpr std::uint32_t AddressImplemented = 0x80FFFFFC;  // enable, bus, devfn, dword register

}  // namespace

PciFunction* PciConfigPorts::selected() {
  if (!(address_ & AddressEnable)) return nullptr;
  return bus_.find(static_cast<std::uint8_t>(address_ >> 16), static_cast<std::uint8_t>(address_ >> 8));
}

std::optional<unsigned> PciConfigPorts::data_lane(unsigned offset) const {
  if (offset < ConfigData || offset >= ConfigDataEnd) return std::nullopt;
  return (address_ & 0xFC) + (offset - ConfigData);
}

// Only a 32-bit access to 0xCF8 reaches the address register; narrower ones there are ordinary
// I/O cycles that nothing here claims. An access that runs past 0xCFF is split by the processor,
// and its bytes beyond the window read all ones. With the enable bit clear, or no function at the
// address (a master abort), the data window reads all ones and drops writes.
std::uint32_t PciConfigPorts::read(std::uint16_t offset, unsigned width) {
  if (offset == ConfigAddress && width == 4) return address_;
  PciFunction* function = selected();
  std::uint32_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    std::optional<unsigned> lane = data_lane(offset + i);
    std::uint32_t byte = function && lane ? function->read(*lane, 1) : 0xFF;
    value |= byte << (8 * i);
  }
  return value;
}

void PciConfigPorts::write(std::uint16_t offset, unsigned width, std::uint32_t value) {
  if (offset == ConfigAddress && width == 4) {
    address_ = value & AddressImplemented;
    return;
  }
  PciFunction* function = selected();
  if (!function) return;
  for (unsigned i = 0; i < width; ++i) {
    if (std::optional<unsigned> lane = data_lane(offset + i)) function->write(*lane, 1, (value >> (8 * i)) & 0xFF);
  }
}

}  // namespace ferrox::vpc
