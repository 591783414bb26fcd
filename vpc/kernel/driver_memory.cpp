// SPDX-License-Identifier: MIT
// The driver's physical memory windows, per open file.
//
//   2  map    PhysAddr, Count = size in; LinearAddr out: the window's handle, 0 when it cannot map:
//             ENOSPC when the file holds 64 windows; EINVAL for size 0, more than 256 MiB, or a
//             range past 4 GiB; EPERM for a range with System RAM in it; ENOMEM when no linear
//             space is left
//   3  unmap  the linear address of a window of this file; EPERM for one another process (a forked
//             child sharing the file) mapped
//
// Reads and writes (14, 15) name their window by LinearAddr and PhysAddr; they fail with EINVAL,
// leaving Data untouched, unless it is a live window of this file at that PhysAddr, Offset + Count
// lies inside it and Count fits Data. A window belongs to the process that mapped it: another
// process sharing the file (a forked child) gets EPERM for it. A write's bytes pass through a
// bounce buffer, as the driver's do, so one whose Data cannot all be read writes nothing.
#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/kernel/driver_requests.h"
#include "ferrox/vpc/kernel/user_memory.h"

namespace ferrox::vpc {

// The 16-byte head of a TMemRec, copied in from the program as a driver does.
struct DriverMemory::Head {
  std::uint32_t PhysAddr;
  std::uint32_t Offset;
  std::uint32_t LinearAddr;
  std::uint32_t Count;
};

namespace {

constexpr std::uint64_t PageSize = 4096;
// Each window takes kernel address space: its size and a file's count of them are bounded.
constexpr std::uint64_t WindowSizeLimit = 256 << 20;
constexpr std::size_t WindowsPerFile = 64;
// The kernel's area for mapped I/O memory in a 32-bit address space.
constexpr std::uint64_t LinearBase = 0xD0000000;
constexpr std::uint64_t LinearLimit = 0xFF000000;

std::uintptr_t data_of(std::uintptr_t record) { return record + ferrox::MemRecHeadSize; }

}  // namespace

DriverMemory::DriverMemory(DeviceNode& node, PhysicalMemory& memory, Faults& faults) : memory_(memory), faults_(faults) {
  using namespace ferrox::Request;
  node.serve<&DriverMemory::map>(Map, *this);
  node.serve<&DriverMemory::unmap>(Unmap, *this);
  node.serve<&DriverMemory::read>(ReadWindow, *this);
  node.serve<&DriverMemory::write>(WriteWindow, *this);
  node.on_release([](void* self, const OpenFile& file) { static_cast<DriverMemory*>(self)->release(file); }, this);
}

long DriverMemory::map(const OpenFile& file, std::uintptr_t argument) {
  static_assert(sizeof(Head) == ferrox::MemRecHeadSize);
  Head head;
  if (!copy_from_user(&head, argument, sizeof head)) return -EFAULT;
  std::uint32_t linear = 0;
  long result = 0;
  std::uint64_t first_page_offset = head.PhysAddr % PageSize;
  std::uint64_t pages = (first_page_offset + head.Count + PageSize - 1) / PageSize;
  if (windows_of(file) >= WindowsPerFile) {
    result = -ENOSPC;
  } else if (head.Count == 0 || head.Count > WindowSizeLimit ||
             std::uint64_t{head.PhysAddr} + head.Count > PhysicalMemory::AddressSpace) {
    result = -EINVAL;
  } else if (memory_.holds_system_ram(head.PhysAddr - first_page_offset, pages * PageSize)) {
    // Judged per page, as the reference driver judges: a page that holds any RAM is refused whole.
    result = -EPERM;
  } else if (faults_.take_map_refusal()) {
    result = -ENOMEM;
  } else if (auto page = allocate(pages)) {
    linear = *page + static_cast<std::uint32_t>(first_page_offset);
    windows_[linear] = Window{file.id, getpid(), head.PhysAddr, head.Count, static_cast<std::uint32_t>(pages)};
  } else {
    result = -ENOMEM;
  }
  // A failed map still answers 0, so a caller that reads only LinearAddr is not misled.
  if (!copy_to_user(argument + offsetof(Head, LinearAddr), &linear, sizeof linear)) {
    if (result == 0) forget(windows_.find(linear));
    return -EFAULT;
  }
  return result;
}

long DriverMemory::unmap(const OpenFile& file, std::uintptr_t argument) {
  std::uint32_t linear;
  if (!copy_from_user(&linear, argument, sizeof linear)) return -EFAULT;
  auto window = windows_.find(linear);
  bool ours = window != windows_.end() && window->second.file == file.id;
  if (long error = refusal(ours ? &window->second : nullptr)) return error;
  forget(window);
  return 0;
}

long DriverMemory::refusal(const Window* window) {
  if (!window) return -EINVAL;
  return window->owner == getpid() ? 0 : -EPERM;
}

std::size_t DriverMemory::windows_of(const OpenFile& file) const {
  return static_cast<std::size_t>(
      std::count_if(windows_.begin(), windows_.end(), [&](const auto& window) { return window.second.file == file.id; }));
}

// A transfer names its window twice, by LinearAddr and by the window's PhysAddr: a record meant for
// another window is refused rather than carried out on this one.
const DriverMemory::Window* DriverMemory::transfer_window(const OpenFile& file, const Head& head) {
  bool same = last_used_ != windows_.end() && last_used_->first == head.LinearAddr;
  auto window = same ? last_used_ : windows_.find(head.LinearAddr);
  if (window == windows_.end() || window->second.file != file.id) return nullptr;
  last_used_ = window;
  if (window->second.phys != head.PhysAddr) return nullptr;
  if (head.Count > ferrox::MemRecDataSize) return nullptr;
  if (std::uint64_t{head.Offset} + head.Count > window->second.size) return nullptr;
  return &window->second;
}

// The window's bytes go to Data piece by piece as the memory holds them (a window's pages lie apart
// in the memory that models it).
long DriverMemory::read(const OpenFile& file, std::uintptr_t argument) {
  Head head;
  if (!copy_from_user(&head, argument, sizeof head)) return -EFAULT;
  const Window* window = transfer_window(file, head);
  if (long error = refusal(window)) return error;
  std::uint64_t from = std::uint64_t{window->phys} + head.Offset;
  for (std::uint32_t done = 0; done < head.Count;) {
    std::span<const std::uint8_t> piece = memory_.view(from + done, head.Count - done);
    if (!copy_to_user(data_of(argument) + done, piece.data(), piece.size())) return -EFAULT;
    done += static_cast<std::uint32_t>(piece.size());
  }
  return 0;
}

long DriverMemory::write(const OpenFile& file, std::uintptr_t argument) {
  Head head;
  if (!copy_from_user(&head, argument, sizeof head)) return -EFAULT;
  const Window* window = transfer_window(file, head);
  if (long error = refusal(window)) return error;
  if (!copy_from_user(bounce_.data(), data_of(argument), head.Count)) return -EFAULT;
  memory_.write(window->phys + head.Offset, {bounce_.data(), head.Count});
  return 0;
}

void DriverMemory::release(const OpenFile& file) {
  last_used_ = windows_.end();
  std::erase_if(windows_, [&file](const auto& window) { return window.second.file == file.id; });
}

void DriverMemory::forget(std::map<std::uint32_t, Window>::const_iterator window) {
  if (window == last_used_) last_used_ = windows_.end();
  windows_.erase(window);
}

std::optional<std::uint32_t> DriverMemory::allocate(std::uint64_t pages) const {
  std::uint64_t needed = (pages + 1) * PageSize;  // the guard page catches a run past the end
  std::uint64_t candidate = LinearBase;
  for (const auto& [linear, window] : windows_) {
    std::uint64_t start = linear - linear % PageSize;
    if (candidate + needed <= start) break;
    candidate = std::max(candidate, start + (window.pages + 1) * PageSize);
  }
  if (candidate + needed > LinearLimit) return std::nullopt;
  return static_cast<std::uint32_t>(candidate);
}

}  // namespace ferrox::vpc
