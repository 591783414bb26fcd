// SPDX-License-Identifier: MIT
// The driver's single-port requests. Each takes a TPortRecord: Port in; for a read the value is
// left zero-extended in Value, for a write Value goes out. A wide transfer covers width consecutive
// ports, all of which must exist, and a write's Value must fit its width: a record built wrongly
// fails with EINVAL and nothing is written, rather than a part of it.
//
// The PCI configuration ports 0xCF8..0xCFF take the accesses of configuration mechanism #1 only: a
// double word at 0xCF8, naturally aligned ones within 0xCFC..0xCFF. Others there (0xCF9 is the
// chipset's reset control) fail with EPERM, as the reference driver refuses them. That driver keeps
// the configuration address per descriptor; here it is the machine's, shared by descriptors.
#include <errno.h>

#include <cstddef>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/hwtypes/PcHardware.h"
#include "ferrox/vpc/kernel/driver_requests.h"
#include "ferrox/vpc/kernel/user_memory.h"

namespace ferrox::vpc {

namespace {

constexpr std::uint32_t PortSpace = 0x10000;

// The record's field is 32 bits wide; the port space is not.
constexpr bool in_port_space(std::uint32_t port, unsigned width) { return port <= PortSpace - width; }

constexpr bool fits_width(std::uint32_t value, unsigned width) { return width == 4 || value >> (8 * width) == 0; }

constexpr std::uint32_t PciConfigAddress = pci_config::AddressPort;
constexpr std::uint32_t PciConfigData = pci_config::DataPort;
constexpr std::uint32_t PciConfigEnd = pci_config::AddressPort + pci_config::PortsLength;

// An access that reaches the configuration ports without being one of the mechanism's.
constexpr bool refused_at_pci_config(std::uint32_t port, unsigned width) {
  if (port + width <= PciConfigAddress || port >= PciConfigEnd) return false;
  if (port == PciConfigAddress) return width != 4;
  return port < PciConfigData || port % width != 0;
}

}  // namespace

DriverPorts::DriverPorts(DeviceNode& node, PortBus& bus) : bus_(bus) {
  using namespace ferrox::Request;
  node.serve<&DriverPorts::in<1>>(PortInB, *this);
  node.serve<&DriverPorts::out<1>>(PortOutB, *this);
  node.serve<&DriverPorts::in<2>>(PortInW, *this);
  node.serve<&DriverPorts::out<2>>(PortOutW, *this);
  node.serve<&DriverPorts::in<4>>(PortInL, *this);
  node.serve<&DriverPorts::out<4>>(PortOutL, *this);
}

template <unsigned Width>
long DriverPorts::in(const OpenFile&, std::uintptr_t argument) {
  ferrox::TPortRecord record;
  if (!copy_from_user(&record, argument, sizeof record)) return -EFAULT;
  if (!in_port_space(record.Port, Width)) return -EINVAL;
  if (refused_at_pci_config(record.Port, Width)) return -EPERM;
  std::uint32_t value = bus_.read(static_cast<std::uint16_t>(record.Port), Width);
  return copy_to_user(argument + offsetof(ferrox::TPortRecord, Value), &value, sizeof value) ? 0 : -EFAULT;
}

template <unsigned Width>
long DriverPorts::out(const OpenFile&, std::uintptr_t argument) {
  ferrox::TPortRecord record;
  if (!copy_from_user(&record, argument, sizeof record)) return -EFAULT;
  if (!in_port_space(record.Port, Width) || !fits_width(record.Value, Width)) return -EINVAL;
  if (refused_at_pci_config(record.Port, Width)) return -EPERM;
  bus_.write(static_cast<std::uint16_t>(record.Port), Width, record.Value);
  return 0;
}

}  // namespace ferrox::vpc
