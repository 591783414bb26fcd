// The driver's physical memory windows.
#include "ferrox/vpc/kernel/driver_memory.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "ferrox/hwtypes/DriverContract.h"

namespace vpc {

namespace {

constexpr std::uint64_t PageSize = 4096;
// Each window takes kernel address space: its size and a descriptor's count of them are bounded.
constexpr std::uint64_t WindowSizeLimit = 256 << 20;
constexpr std::size_t WindowsPerDescriptor = 64;
// The kernel's area for mapped I/O memory in a 32-bit address space.
constexpr std::uint64_t LinearBase = 0xD0000000;
constexpr std::uint64_t LinearLimit = 0xFF000000;

std::uint8_t* record_data(std::uintptr_t record) {
  return reinterpret_cast<std::uint8_t*>(record) + ferrox::MemRecHeadSize;
}

// The 16-byte head of a TMemRec, copied in from the caller as a driver does.
struct RecordHead {
  std::uint32_t PhysAddr;
  std::uint32_t Offset;
  std::uint32_t LinearAddr;
  std::uint32_t Count;

  static RecordHead from(std::uintptr_t record) {
    RecordHead head;
    std::memcpy(&head, reinterpret_cast<const void*>(record), sizeof head);
    return head;
  }
};
static_assert(sizeof(RecordHead) == ferrox::MemRecHeadSize);

}  // namespace

DriverMemory::DriverMemory(DeviceNode& node, PhysicalMemory& memory, Faults& faults) : memory_(memory), faults_(faults) {
  auto head_size = [](const void*) -> std::size_t { return ferrox::MemRecHeadSize; };
  auto linear_size = [](const void*) -> std::size_t { return sizeof(std::uint32_t); };
  // The head and the bytes of Data that the transfer concerns.
  auto transfer_size = [](const void* record) -> std::size_t {
    std::uint32_t count = RecordHead::from(reinterpret_cast<std::uintptr_t>(record)).Count;
    return ferrox::MemRecHeadSize + std::min(count, ferrox::MemRecDataSize);
  };
  node.handle(ferrox::Request::Map, {head_size, [this](Descriptor& d, std::uintptr_t r) { return map(d, r); }});
  node.handle(ferrox::Request::Unmap, {linear_size, [this](Descriptor& d, std::uintptr_t r) { return unmap(d, r); }});
  node.handle(ferrox::Request::ReadWindow, {transfer_size, [this](Descriptor& d, std::uintptr_t r) { return read(d, r); }});
  node.handle(ferrox::Request::WriteWindow, {transfer_size, [this](Descriptor& d, std::uintptr_t r) { return write(d, r); }});
  node.on_release([this](Descriptor& d) { release(d); });
}

long DriverMemory::map(const Descriptor& descriptor, std::uintptr_t record) {
  RecordHead head = RecordHead::from(record);
  std::uint32_t linear = 0;
  long result = 0;
  std::uint64_t first_page_offset = head.PhysAddr % PageSize;
  std::uint64_t pages = (first_page_offset + head.Count + PageSize - 1) / PageSize;
  if (windows_of(descriptor) >= WindowsPerDescriptor) {
    result = -ENOSPC;
  } else if (head.Count == 0 || head.Count > WindowSizeLimit ||
             std::uint64_t{head.PhysAddr} + head.Count > PhysicalMemory::AddressSpace) {
    result = -EINVAL;
  } else if (memory_.holds_system_ram(head.PhysAddr, head.Count)) {
    result = -EPERM;
  } else if (faults_.take_map_refusal()) {
    result = -ENOMEM;
  } else if (auto page = allocate(pages)) {
    linear = *page + static_cast<std::uint32_t>(first_page_offset);
    windows_[linear] = Window{descriptor.fd, getpid(), head.PhysAddr, head.Count, static_cast<std::uint32_t>(pages)};
  } else {
    result = -ENOMEM;
  }
  std::memcpy(reinterpret_cast<std::uint8_t*>(record) + offsetof(RecordHead, LinearAddr), &linear, sizeof linear);
  return result;
}

long DriverMemory::unmap(const Descriptor& descriptor, std::uintptr_t record) {
  std::uint32_t linear;
  std::memcpy(&linear, reinterpret_cast<const void*>(record), sizeof linear);
  auto window = windows_.find(linear);
  bool ours = window != windows_.end() && window->second.fd == descriptor.fd;
  if (long error = refusal(ours ? &window->second : nullptr)) return error;
  windows_.erase(window);
  return 0;
}

long DriverMemory::refusal(const Window* window) {
  if (!window) return -EINVAL;
  return window->owner == getpid() ? 0 : -EPERM;
}

std::size_t DriverMemory::windows_of(const Descriptor& descriptor) const {
  return static_cast<std::size_t>(
      std::count_if(windows_.begin(), windows_.end(), [&](const auto& window) { return window.second.fd == descriptor.fd; }));
}

// A transfer names its window twice, by LinearAddr and by the window's PhysAddr: a record meant for
// another window is refused rather than carried out on this one.
const DriverMemory::Window* DriverMemory::transfer_window(const Descriptor& descriptor, const Transfer& transfer) const {
  auto window = windows_.find(transfer.linear);
  if (window == windows_.end() || window->second.fd != descriptor.fd) return nullptr;
  if (window->second.phys != transfer.phys) return nullptr;
  if (transfer.count > ferrox::MemRecDataSize) return nullptr;
  if (std::uint64_t{transfer.offset} + transfer.count > window->second.size) return nullptr;
  return &window->second;
}

long DriverMemory::read(const Descriptor& descriptor, std::uintptr_t record) {
  RecordHead head = RecordHead::from(record);
  const Window* window = transfer_window(descriptor, {head.PhysAddr, head.LinearAddr, head.Offset, head.Count});
  if (long error = refusal(window)) return error;
  memory_.read(window->phys + head.Offset, {record_data(record), head.Count});
  return 0;
}

long DriverMemory::write(const Descriptor& descriptor, std::uintptr_t record) {
  RecordHead head = RecordHead::from(record);
  const Window* window = transfer_window(descriptor, {head.PhysAddr, head.LinearAddr, head.Offset, head.Count});
  if (long error = refusal(window)) return error;
  memory_.write(window->phys + head.Offset, {record_data(record), head.Count});
  return 0;
}

void DriverMemory::release(const Descriptor& descriptor) {
  std::erase_if(windows_, [&descriptor](const auto& window) { return window.second.fd == descriptor.fd; });
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

}  // namespace vpc
