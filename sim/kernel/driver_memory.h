// The driver's physical memory windows, per open descriptor:
//
//   2  map           PhysAddr, Count = size in; LinearAddr out: the window's handle, 0 when it
//                    cannot map: ENOSPC when the descriptor holds 64 windows; EINVAL for size 0,
//                    more than 256 MiB, or a range past 4 GiB; EPERM for a range with System RAM
//                    in it; ENOMEM when no linear space is left
//   3  unmap         the linear address of a window of this descriptor
//   14 window read   Count bytes of the window from Offset into Data
//   15 window write  Count bytes of Data into the window from Offset
//
// Reads and writes name their window by LinearAddr and PhysAddr; they fail with EINVAL, leaving
// Data untouched, unless it is a live window of this descriptor at that PhysAddr, Offset + Count
// lies inside it and Count fits Data. A window belongs to the process that mapped it: another
// process sharing the descriptor (a forked child) gets EPERM for it. A descriptor's windows are
// released with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

#include <sys/types.h>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/kernel/device_node.h"
#include "ferrox/vpc/kernel/faults.h"
#include "ferrox/vpc/platform/physical_memory.h"

namespace vpc {

class VPC_API DriverMemory {
 public:
  // Registers the four requests and the release of windows with the node.
  DriverMemory(DeviceNode& node, PhysicalMemory& memory, Faults& faults);

  std::size_t live_windows() const { return windows_.size(); }

  DriverMemory(const DriverMemory&) = delete;
  DriverMemory& operator=(const DriverMemory&) = delete;

 private:
  struct Window {
    int fd;
    pid_t owner;  // the process that mapped it
    std::uint32_t phys;
    std::uint32_t size;
    std::uint32_t pages;  // of linear space, from the page that holds the window's first byte
  };
  long map(const Descriptor& descriptor, std::uintptr_t record);
  long unmap(const Descriptor& descriptor, std::uintptr_t record);
  long read(const Descriptor& descriptor, std::uintptr_t record);
  long write(const Descriptor& descriptor, std::uintptr_t record);
  void release(const Descriptor& descriptor);

  struct Transfer {
    std::uint32_t phys;
    std::uint32_t linear;
    std::uint32_t offset;
    std::uint32_t count;
  };
  // The window that a transfer names, when the transfer fits in it.
  const Window* transfer_window(const Descriptor& descriptor, const Transfer& transfer) const;
  // Why a request naming a window fails (-errno), or 0: it names none, or one another process mapped.
  static long refusal(const Window* window);
  std::size_t windows_of(const Descriptor& descriptor) const;
  // First linear page of a free range of this many pages, followed by a free guard page.
  std::optional<std::uint32_t> allocate(std::uint64_t pages) const;

  PhysicalMemory& memory_;
  Faults& faults_;
  std::map<std::uint32_t, Window> windows_;  // by the linear address handed out
};

}  // namespace vpc
