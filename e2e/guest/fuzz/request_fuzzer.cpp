// SPDX-License-Identifier: MIT
// Random requests to the driver.
#include "fuzz/request_fuzzer.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ferrox/hwtypes/DriverContract.h"

namespace fuzz {

namespace Request = ferrox::Request;

namespace {

constexpr std::size_t PageSize = 4096;
constexpr std::size_t RecordRoom = 20 * PageSize;  // a whole TMemRec and then some
constexpr std::size_t MostDescriptors = 6;

constexpr std::uint32_t ValidCodes[] = {
    Request::Map,        Request::Unmap,      Request::PortInB,  Request::PortOutB,  Request::PortInW,
    Request::PortOutW,   Request::PortInL,    Request::PortOutL, Request::ReadWindow, Request::WriteWindow,
    Request::PciRead,    Request::PciWrite,   Request::IrqUnmask, Request::IrqMask,  Request::IrqCount};

// Ports whose reads change nothing the machine relies on, and values beyond the port space.
// 0xCF7..0xCFF: the PCI configuration ports, mostly reached in ways the driver must refuse.
constexpr std::uint32_t PortsToRead[] = {0x378, 0x379, 0x37A, 0x278,  0x279,   0x27A,     0x80,  0x1F7, 0x3F6,
                                         0xCF7, 0xCF9, 0xCFA, 0xCFB,  0xCFD,   0xCFE,     0xCFF, 0xFFFC,
                                         0xFFFD, 0xFFFF, 0x10000, 0x1FFFF, 0xFFFFFFFF};
// Writes reach the POST port and the parallel ports' data registers only (a control register
// write would print).
constexpr std::uint32_t PortsToWrite[] = {0x80, 0x378, 0x278};

constexpr std::uint32_t Addresses[] = {0,          0x400,      0x4F0,      0x1000,     0x9F000,
                                       0xA0000,    0xB8000,    0xC0000,    0xF0000,    0xFFFFF,
                                       0x100000,   0x800000,   0x10000000, 0xE0000000, 0xFEBFF000,
                                       0xFEC00000, 0xFED00000, 0xFEE00000, 0xFFFFF000, 0xFFFFFFFF};
constexpr std::uint32_t Sizes[] = {0,    1,       2,       15,      16,       17,        4095,      4096,
                                   4097, 0x10000, 0x10001, 0x40000, 0x100000, 256u << 20, (256u << 20) + 1,
                                   0xFFFFFFFF};
constexpr std::uint32_t Values[] = {0,          1,          0x7F,       0x80,       0xFF,      0x100,
                                    0xFFFF,     0x10000,    0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};

// The areas a write through a window may reach: nothing the machine needs lives there.
struct Area {
  std::uint32_t start, end;
};
constexpr Area WritableAreas[] = {{0x4F0, 0x500},      // the BIOS data area's application bytes
                                  {0xA0000, 0xC0000}};  // the legacy video hole (no video here)

// The end of the writable area that holds phys, or 0.
std::uint32_t writable_area_end(std::uint32_t phys) {
  for (Area area : WritableAreas)
    if (phys >= area.start && phys < area.end) return area.end;
  return 0;
}

constexpr std::uint32_t LargeWindow = 1u << 20;
constexpr std::uint32_t LargeWindowPlace = 0xE0000000;  // aligned, so the kernel maps it in large pages

unsigned char* map_pages(std::size_t size, int protection) {
  void* pages = ::mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : static_cast<unsigned char*>(pages);
}

template <class T>
void put(unsigned char* record, std::size_t offset, T value) {
  std::memcpy(record + offset, &value, sizeof value);
}

// An access that reaches the PCI configuration ports without being one of the mechanism's: a
// double word at 0xCF8, naturally aligned ones within 0xCFC..0xCFF.
bool refused_at_pci_config(std::uint32_t port, std::uint32_t width) {
  if (port > 0x10000 - width || port + width <= 0xCF8 || port >= 0xD00) return false;
  if (port == 0xCF8) return width != 4;
  return port < 0xCFC || port % width != 0;
}

template <class T>
T get(const unsigned char* record, std::size_t offset) {
  T value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

}  // namespace

RequestFuzzer::RequestFuzzer(std::uint64_t seed, std::vector<std::uint8_t> present_functions, Tally& tally)
    : random_(seed),
      present_functions_(std::move(present_functions)),
      tally_(tally),
      record_(map_pages(RecordRoom, PROT_READ | PROT_WRITE)),
      edge_(map_pages(2 * PageSize, PROT_READ | PROT_WRITE)),
      readonly_(map_pages(PageSize, PROT_READ)),
      iomem_(e2e::iomem_ranges()) {
  ::mprotect(edge_ + PageSize, PageSize, PROT_NONE);
}

RequestFuzzer::~RequestFuzzer() {
  close_all();
  ::munmap(record_, RecordRoom);
  ::munmap(edge_, 2 * PageSize);
  ::munmap(readonly_, PageSize);
}

void RequestFuzzer::step() {
  if (descriptors_.empty() || chance(2))
    change_descriptors();
  else
    send_request();
}

void RequestFuzzer::change_descriptors() {
  std::uint32_t choice = below(4);
  if (descriptors_.empty() || (choice == 0 && descriptors_.size() < MostDescriptors)) {
    int fd = ::open(ferrox::DriverDevicePath, O_RDONLY);
    if (fd >= 0) descriptors_.push_back({fd, next_file_++});
  } else if (choice == 1 && descriptors_.size() < MostDescriptors) {
    const Descriptor& original = descriptors_[below(static_cast<std::uint32_t>(descriptors_.size()))];
    int fd = chance(50) ? ::dup(original.fd) : ::fcntl(original.fd, F_DUPFD_CLOEXEC, 20 + below(20));
    if (fd >= 0) descriptors_.push_back({fd, original.file});
  } else if (choice == 2) {
    close_descriptor(below(static_cast<std::uint32_t>(descriptors_.size())));
  }
}

void RequestFuzzer::close_descriptor(std::size_t index) {
  Descriptor closing = descriptors_[index];
  ::close(closing.fd);
  descriptors_.erase(descriptors_.begin() + static_cast<std::ptrdiff_t>(index));
  bool file_open = std::any_of(descriptors_.begin(), descriptors_.end(),
                               [&](const Descriptor& d) { return d.file == closing.file; });
  if (!file_open)
    std::erase_if(windows_, [&](const Window& w) { return w.file == closing.file; });
}

void RequestFuzzer::close_all() {
  while (!descriptors_.empty()) close_descriptor(descriptors_.size() - 1);
}

int RequestFuzzer::some_fd() {
  if (chance(3)) return pick({-1, 999, 1023});  // no descriptor, or not an open one
  return descriptors_[below(static_cast<std::uint32_t>(descriptors_.size()))].fd;
}

void RequestFuzzer::send_request() {
  std::uint32_t code = request_code();
  int fd = some_fd();
  unsigned long argument = argument_for(code);
  long result = ::ioctl(fd, code, argument);
  int error = errno;
  ++tally_.sent;
  if (result != -1) ++tally_.carried_out;
  if (argument == reinterpret_cast<unsigned long>(record_)) note_result(code, fd, result, error);
}

// Mostly the contract's codes; otherwise its numbers with another size, type or direction, and
// codes of nothing at all, never one of the contract's by chance.
std::uint32_t RequestFuzzer::request_code() {
  if (chance(92)) return pick(ValidCodes);
  for (;;) {
    std::uint32_t code;
    switch (below(3)) {
      case 0:
        code = ferrox::MakeRequestCode('h', static_cast<ferrox::Byte>(below(32)), static_cast<ferrox::Word>(pick(Sizes)));
        break;
      case 1:
        code = pick(ValidCodes) ^ (1u << below(32));
        break;
      default:
        code = static_cast<std::uint32_t>(random_());
        break;
    }
    if (std::find(std::begin(ValidCodes), std::end(ValidCodes), code) == std::end(ValidCodes)) return code;
  }
}

std::uint32_t RequestFuzzer::some_value() { return chance(50) ? pick(Values) : static_cast<std::uint32_t>(random_()); }

unsigned long RequestFuzzer::argument_for(std::uint32_t code) {
  for (std::size_t i = 0; i < 64; i += 8) put(record_, i, random_());
  switch (code) {
    case Request::PortInB: case Request::PortInW: case Request::PortInL:
      fill_port_record(code, false);
      break;
    case Request::PortOutB: case Request::PortOutW: case Request::PortOutL:
      fill_port_record(code, true);
      break;
    case Request::Map:
      fill_memory_record(true, false);
      break;
    case Request::ReadWindow:
      fill_memory_record(false, false);
      break;
    case Request::WriteWindow:
      fill_memory_record(false, true);
      break;
    case Request::Unmap: {
      const Window* w = some_window();
      put<std::uint32_t>(record_, 0, w && chance(80) ? w->handle : some_value());
      break;
    }
    case Request::PciRead:
      fill_pci_record(false);
      break;
    case Request::PciWrite:
      fill_pci_record(true);
      break;
    case Request::IrqUnmask: case Request::IrqMask:
      fill_irq_record();
      break;
    case Request::IrqCount:
      return chance(80) ? below(20) : some_value();
  }
  return record_address();
}

// The record mostly, else an address the driver cannot read, or cannot write, or can read only in
// part (a copy of the record's first bytes).
unsigned long RequestFuzzer::record_address() {
  if (chance(90)) return reinterpret_cast<unsigned long>(record_);
  switch (below(5)) {
    case 0:
      return 0;
    case 1:
      return reinterpret_cast<unsigned long>(readonly_);
    case 2:
      return reinterpret_cast<unsigned long>(edge_ + PageSize + below(PageSize));  // inaccessible
    case 3:
      return static_cast<unsigned long>(sizeof(long) == 8 ? 0xFFFFFFFF81000000ull : 0xC1000000ull);  // the kernel's
    default: {
      // Part of the record in the last accessible bytes before an inaccessible page.
      std::size_t readable = below(80);
      unsigned char* at = edge_ + PageSize - readable;
      std::memcpy(at, record_, readable);
      return reinterpret_cast<unsigned long>(at);
    }
  }
}

void RequestFuzzer::fill_port_record(std::uint32_t code, bool write) {
  unsigned width = code == Request::PortInB || code == Request::PortOutB   ? 1
                   : code == Request::PortInW || code == Request::PortOutW ? 2
                                                                            : 4;
  std::uint32_t port = chance(85) ? pick(PortsToRead) : some_value();
  std::uint32_t value = some_value();
  bool fits = width == 4 || value >> (8 * width) == 0;
  bool carried_out = port <= 0x10000 - width && fits && !refused_at_pci_config(port, width);
  if (write && carried_out) port = width == 1 ? pick(PortsToWrite) : 0x80;
  // A write whose value does not fit is refused with EINVAL first.
  port_refused_ = refused_at_pci_config(port, width) && (!write || fits);
  put(record_, 0, port);
  put(record_, 4, value);
}

const RequestFuzzer::Window* RequestFuzzer::some_window() {
  return windows_.empty() ? nullptr : &windows_[below(static_cast<std::uint32_t>(windows_.size()))];
}

// A window that starts in a writable area lies wholly inside it, so a write may go to any window
// that starts there; a write to any other place must be refused or move nothing.
void RequestFuzzer::fill_memory_record(bool map, bool write) {
  std::uint32_t phys = chance(80) ? pick(Addresses) + (chance(50) ? below(0x1000) : 0) : some_value();
  std::uint32_t size = chance(85) ? pick(Sizes) : some_value();
  std::uint32_t offset = some_value(), handle = some_value();
  if (map) {
    if (std::uint32_t end = writable_area_end(phys)) size = std::min(size, end - phys);
    if (size > LargeWindow && size <= (256u << 20)) phys = LargeWindowPlace;  // page tables stay small
    mapped_phys_ = phys;
    mapped_size_ = size;
  } else if (const Window* w = some_window(); w && chance(85)) {
    phys = chance(95) ? w->phys : phys;
    handle = chance(95) ? w->handle : handle;
    offset = chance(80) ? below(w->size + 2) : offset;
    size = chance(80) ? below(std::min(w->size, 4096u) + 2) : size;
  }
  if (write && !writable_area_end(phys)) size = chance(50) ? 0 : ferrox::MemRecDataSize + 1 + below(100);
  put(record_, 0, phys);
  put(record_, 4, offset);
  put(record_, 8, handle);
  put(record_, 12, size);
}

void RequestFuzzer::fill_pci_record(bool write) {
  std::uint16_t bus = chance(80) ? static_cast<std::uint16_t>(pick({0u, 0u, 0u, 1u, 200u, 255u, 256u, 0xFFFFu}))
                                 : static_cast<std::uint16_t>(random_());
  std::uint16_t devfn = chance(60) && !present_functions_.empty()
                            ? present_functions_[below(static_cast<std::uint32_t>(present_functions_.size()))]
                            : static_cast<std::uint16_t>(chance(80) ? below(256) : random_());
  std::uint16_t count = static_cast<std::uint16_t>(chance(90) ? pick({1u, 2u, 4u, 64u}) : below(9));
  std::uint32_t space = chance(70) ? 260 : 4100;  // the conventional space, or the extended one
  std::uint16_t reg = static_cast<std::uint16_t>(chance(80) ? below(space) & ~(count - 1u) : random_());
  std::uint32_t value = some_value();
  bool present = bus == 0 && std::find(present_functions_.begin(), present_functions_.end(), devfn) !=
                                 present_functions_.end();
  bool carried_out = (count == 1 || count == 2 || count == 4) && reg % count == 0 && reg + count <= 4096 &&
                     (count == 4 || value >> (8 * count) == 0);
  if (write && present && carried_out) {
    // Of a function the machine uses, only the interrupt line register, a plain scratch byte.
    reg = 0x3C;
    count = 1;
    value &= 0xFF;
  }
  put(record_, 0, bus);
  put(record_, 2, devfn);
  put(record_, 4, reg);
  put(record_, 6, count);
  put(record_, 8, value);
}

void RequestFuzzer::fill_irq_record() {
  std::int32_t self = static_cast<std::int32_t>(::getpid());
  std::int32_t process = chance(85) ? self : pick({0, 1, -1, self + 1, static_cast<std::int32_t>(::getppid())});
  std::int32_t signal = chance(60) ? ferrox::InterruptSignal
                        : chance(75) ? static_cast<std::int32_t>(34 + below(31))
                                     : pick({0, 9, 31, 32, 33, 65, -44, 0x7FFFFFFF});
  std::uint32_t line = chance(90) ? below(16) : some_value();
  put(record_, 0, process);
  put(record_, 4, signal);
  put(record_, 8, line);
  put(record_, 12, static_cast<std::uint32_t>(random_()));
}

void RequestFuzzer::judge(bool right, const char* what) {
  ++tally_.judged;
  if (right) return;
  if (tally_.misjudged++ < 10) std::printf("   oracle: %s\n", what);
}

void RequestFuzzer::note_result(std::uint32_t code, int fd, long result, int error) {
  auto descriptor = std::find_if(descriptors_.begin(), descriptors_.end(), [fd](const Descriptor& d) { return d.fd == fd; });
  if (descriptor == descriptors_.end()) return;
  bool port_request = code == Request::PortInB || code == Request::PortInW || code == Request::PortInL ||
                      code == Request::PortOutB || code == Request::PortOutW || code == Request::PortOutL;
  if (port_request && port_refused_) {
    judge(result == -1 && error == EPERM, "a port access at the PCI configuration ports was not refused");
  } else if (code == Request::Map && mapped_size_ != 0 && mapped_size_ <= LargeWindow &&
             std::uint64_t{mapped_phys_} + mapped_size_ <= (1ull << 32) && (result == 0 || error == EPERM)) {
    // Sizes and places the driver refuses as invalid, maps past the bound on windows, and windows
    // larger than 1 MiB (which /dev/mem would take long to map) are not judged.
    char what[96];
    std::snprintf(what, sizeof what, "window 0x%08x+0x%x %s", mapped_phys_, mapped_size_,
                  result == 0 ? "mapped" : "refused");
    judge((result == 0) == e2e::driver_maps(iomem_, mapped_phys_, mapped_size_), what);
  }
  if (result != 0) return;
  if (code == Request::Map) {
    windows_.push_back({descriptor->file, mapped_phys_, mapped_size_, get<std::uint32_t>(record_, 8)});
  } else if (code == Request::Unmap) {
    std::uint32_t handle = get<std::uint32_t>(record_, 0);
    std::erase_if(windows_, [&](const Window& w) { return w.file == descriptor->file && w.handle == handle; });
  }
}

}  // namespace fuzz
