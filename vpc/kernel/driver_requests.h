// SPDX-License-Identifier: MIT
// The driver's requests, by subsystem, each registered with the device node by its constructor.
// Every request copies its record in from the program and its answer back out, as a driver does
// with copy_from_user and copy_to_user: a record the program cannot read or write fails with EFAULT.
//
// The requests and their records are listed in hwtypes/DriverContract.h; what each one checks and
// answers is at the top of its file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

#include <sys/types.h>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/kernel/device_node.h"
#include "ferrox/vpc/kernel/faults.h"
#include "ferrox/vpc/pci/pci_bus.h"
#include "ferrox/vpc/platform/irq_controller.h"
#include "ferrox/vpc/platform/physical_memory.h"
#include "ferrox/vpc/platform/port_bus.h"

namespace ferrox::vpc {

// How many bytes of the record at `argument` a request reads or writes (0 when the argument is a
// plain value or the code is none of the driver's). A window transfer's size depends on the Count
// in its head, read from the program's memory.
VPC_API std::size_t request_record_size(std::uint32_t code, std::uintptr_t argument);

// Requests 4 to 9 on the machine's port bus.
class DriverPorts {
 public:
  DriverPorts(DeviceNode& node, PortBus& bus);

 private:
  template <unsigned Width>
  long in(const OpenFile& file, std::uintptr_t argument);
  template <unsigned Width>
  long out(const OpenFile& file, std::uintptr_t argument);

  PortBus& bus_;
};

// Requests 16 and 17 on the machine's PCI bus.
class DriverPci {
 public:
  DriverPci(DeviceNode& node, PciBus& bus);

 private:
  long read(const OpenFile& file, std::uintptr_t argument);
  long write(const OpenFile& file, std::uintptr_t argument);

  PciBus& bus_;
};

// Requests 18 to 20 on the machine's IRQ lines; a file's listeners go with it.
class DriverIrq {
 public:
  DriverIrq(DeviceNode& node, IrqController& irqs);

 private:
  long unmask(const OpenFile& file, std::uintptr_t argument);
  long mask(const OpenFile& file, std::uintptr_t argument);
  long count(const OpenFile& file, std::uintptr_t argument);

  IrqController& irqs_;
};

// Requests 2, 3, 14 and 15: windows of the machine's physical memory, per file.
class VPC_API DriverMemory {
 public:
  DriverMemory(DeviceNode& node, PhysicalMemory& memory, Faults& faults);
  DriverMemory(const DriverMemory&) = delete;
  DriverMemory& operator=(const DriverMemory&) = delete;

  std::size_t live_windows() const { return windows_.size(); }
  // Every window gone, as when the machine is rebuilt.
  void reset() { windows_.clear(); }

 private:
  struct Window {
    std::uint32_t file;
    pid_t owner;  // the process that mapped it
    std::uint32_t phys;
    std::uint32_t size;
    std::uint32_t pages;  // of linear space, from the page that holds the window's first byte
  };
  struct Head;

  long map(const OpenFile& file, std::uintptr_t argument);
  long unmap(const OpenFile& file, std::uintptr_t argument);
  long read(const OpenFile& file, std::uintptr_t argument);
  long write(const OpenFile& file, std::uintptr_t argument);
  void release(const OpenFile& file);

  // The window a transfer names, when the transfer fits in it.
  const Window* transfer_window(const OpenFile& file, const Head& head);
  // Why a request naming a window fails (-errno), or 0: it names none, or one another process mapped.
  static long refusal(const Window* window);
  void forget(std::map<std::uint32_t, Window>::const_iterator window);
  std::size_t windows_of(const OpenFile& file) const;
  // First linear page of a free range of this many pages, followed by a free guard page.
  std::optional<std::uint32_t> allocate(std::uint64_t pages) const;

  PhysicalMemory& memory_;
  Faults& faults_;
  std::map<std::uint32_t, Window> windows_;  // by the linear address handed out
  // The window the last transfer named, as a program moves a block through one window in turn.
  std::map<std::uint32_t, Window>::const_iterator last_used_ = windows_.end();
  std::array<std::uint8_t, 65536> bounce_;    // a write's bytes, all read from Data before any goes out
};

}  // namespace ferrox::vpc
