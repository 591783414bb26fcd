// SPDX-License-Identifier: MIT
// Physical memory through windows, with /dev/mem as the reference: the BIOS data area and the BIOS
// ROM, a write into the data area's scratch bytes, a large window, device memory the kernel's own
// drivers hold, and records that fault half way.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/check.h"
#include "common/dev_mem.h"
#include "scenarios.h"

namespace e2e {
namespace {

constexpr std::uint32_t BiosDataArea = 0x400;
constexpr std::uint32_t BiosDataAreaSize = 0x100;
constexpr std::uint32_t ApplicationArea = 0x4F0;  // 16 bytes the BIOS leaves to programs
constexpr std::uint32_t ApplicationAreaSize = 16;
constexpr std::uint32_t BiosRom = 0xF0000;
constexpr std::uint32_t BiosRomSize = 0x10000;

bool same_as_dev_mem(const ferrox::TMemRec& record) {
  auto reference = read_dev_mem(record.PhysAddr + record.Offset, record.Count);
  return reference.size() == record.Count && std::memcmp(reference.data(), record.Data, record.Count) == 0;
}

// Reads Count bytes from Offset of the window and compares them with /dev/mem.
void read_matches_dev_mem(const Driver& driver, std::uint32_t phys, std::uint32_t window, std::uint32_t offset,
                          std::uint32_t count) {
  auto record = contract::make_memory_record(phys, window, offset, count);
  CHECK_EQ(driver.request(ferrox::Request::ReadWindow, record.get()).result, 0);
  CHECK(same_as_dev_mem(*record));
}

void bios_data_area(const Driver& driver) {
  std::uint32_t window = driver.map(BiosDataArea, BiosDataAreaSize);
  if (!CHECK(window != 0)) return;
  read_matches_dev_mem(driver, BiosDataArea, window, 0, BiosDataAreaSize);
  auto ports = contract::make_memory_record(BiosDataArea, window, 8, 4);
  CHECK_EQ(driver.request(ferrox::Request::ReadWindow, ports.get()).result, 0);
  CHECK_EQ(ports->Data[0] | ports->Data[1] << 8, 0x378);
  CHECK_EQ(ports->Data[2] | ports->Data[3] << 8, 0x278);
  CHECK_EQ(driver.unmap(window).result, 0);
}

void bios_rom(const Driver& driver) {
  std::uint32_t window = driver.map(BiosRom, BiosRomSize);
  if (!CHECK(window != 0)) return;
  auto record = contract::make_memory_record(BiosRom, window, 0, BiosRomSize);  // the largest transfer
  CHECK_EQ(driver.request(ferrox::Request::ReadWindow, record.get()).result, 0);
  CHECK(same_as_dev_mem(*record));
  CHECK(std::memchr(record->Data, record->Data[0] ^ 0xFF, BiosRomSize) != nullptr);  // not one byte repeated
  CHECK_EQ(driver.unmap(window).result, 0);
}

// A window wider than one transfer: its last 64 KiB are the BIOS ROM again.
void large_window(const Driver& driver) {
  constexpr std::uint32_t Start = 0xC0000;
  std::uint32_t window = driver.map(Start, 0x40000);
  if (!CHECK(window != 0)) return;
  read_matches_dev_mem(driver, Start, window, BiosRom - Start, BiosRomSize);
  CHECK_EQ(driver.unmap(window).result, 0);
}

void write_through_window(const Driver& driver) {
  std::uint32_t window = driver.map(ApplicationArea, ApplicationAreaSize);
  if (!CHECK(window != 0)) return;
  auto original = contract::make_memory_record(ApplicationArea, window, 0, ApplicationAreaSize);
  CHECK_EQ(driver.request(ferrox::Request::ReadWindow, original.get()).result, 0);

  auto pattern = contract::make_memory_record(ApplicationArea, window, 4, 8);
  for (int i = 0; i < 8; ++i) pattern->Data[i] = static_cast<ferrox::Byte>(0xA0 + i);
  CHECK_EQ(driver.request(ferrox::Request::WriteWindow, pattern.get()).result, 0);
  auto back = contract::make_memory_record(ApplicationArea, window, 0, ApplicationAreaSize);
  CHECK_EQ(driver.request(ferrox::Request::ReadWindow, back.get()).result, 0);
  CHECK(std::memcmp(back->Data + 4, pattern->Data, 8) == 0);
  CHECK(std::memcmp(back->Data, original->Data, 4) == 0 && std::memcmp(back->Data + 12, original->Data + 12, 4) == 0);
  CHECK(same_as_dev_mem(*back));

  CHECK_EQ(driver.request(ferrox::Request::WriteWindow, original.get()).result, 0);
  CHECK(same_as_dev_mem(*original));
  CHECK_EQ(driver.unmap(window).result, 0);
}

}  // namespace

void physical_memory_windows(const Driver& driver) {
  scenario("the BIOS data area through a window");
  bios_data_area(driver);
  scenario("the BIOS ROM in one 64 KiB transfer");
  bios_rom(driver);
  scenario("a 256 KiB window read at an offset");
  large_window(driver);
  scenario("writing the application bytes of the BIOS data area");
  write_through_window(driver);
}

// Where /dev/mem refuses a range because the kernel holds it (busy above the first MiB, with strict
// /dev/mem), the driver refuses to map it too; where /dev/mem maps, the driver maps.
void memory_kernel_drivers_hold(const Driver& driver) {
  scenario("device memory the kernel's drivers hold");
  constexpr std::uint32_t IoApic = 0xFEC00000;
  CHECK(!dev_mem_maps(IoApic, 0x400));  // the kernel's I/O APIC driver holds it
  struct Range {
    std::uint32_t phys, size;
  };
  const Range ranges[] = {
      {IoApic, 0x400},
      {IoApic - 0x1000, 0x2000},  // reaching into it
      {0xFED00000, 0x400},        // the HPET
      {0x10000000, 0x1000},       // the PCI bus's memory, where nothing is
  };
  for (const Range& range : ranges) {
    errno = 0;
    std::uint32_t window = driver.map(range.phys, range.size);
    int error = errno;
    if (!dev_mem_maps(range.phys, range.size)) {
      CHECK_EQ(window, 0);
      CHECK_EQ(error, EPERM);
    } else if (CHECK(window != 0)) {
      CHECK_EQ(driver.transfer(ferrox::Request::ReadWindow, range.phys, window, 0, range.size).result, 0);
      CHECK_EQ(driver.unmap(window).result, 0);
    }
  }
}

namespace {

// A transfer record whose data area runs into an inaccessible page after valid_bytes.
class RecordAtEdge final {
 public:
  explicit RecordAtEdge(std::uint32_t valid_bytes) {
    long page = ::sysconf(_SC_PAGESIZE);
    void* pages = ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return;
    ::mprotect(static_cast<char*>(pages) + page, page, PROT_NONE);
    pages_ = pages;
    size_ = 2 * page;
    record_ = reinterpret_cast<ferrox::TMemRec*>(static_cast<char*>(pages) + page - ferrox::MemRecHeadSize -
                                                 valid_bytes);
  }
  ~RecordAtEdge() {
    if (pages_) ::munmap(pages_, size_);
  }
  RecordAtEdge(const RecordAtEdge&) = delete;
  RecordAtEdge& operator=(const RecordAtEdge&) = delete;
  ferrox::TMemRec* get() const { return record_; }

 private:
  void* pages_ = nullptr;
  std::size_t size_ = 0;
  ferrox::TMemRec* record_ = nullptr;
};

}  // namespace

// The driver copies a write's data in whole before it touches the window.
void records_that_fault(const Driver& driver) {
  scenario("a write whose data faults half way writes nothing");
  std::uint32_t scratch = driver.map(ApplicationArea, ApplicationAreaSize);
  if (!CHECK(scratch != 0)) return;
  auto original = contract::make_memory_record(ApplicationArea, scratch, 0, ApplicationAreaSize);
  CHECK_EQ(driver.request(ferrox::Request::ReadWindow, original.get()).result, 0);
  auto known = contract::make_memory_record(ApplicationArea, scratch, 0, ApplicationAreaSize);
  for (std::uint32_t i = 0; i < ApplicationAreaSize; ++i) known->Data[i] = static_cast<ferrox::Byte>(0x30 + i);
  CHECK_EQ(driver.request(ferrox::Request::WriteWindow, known.get()).result, 0);
  RecordAtEdge edge(ApplicationAreaSize / 2);
  if (CHECK(edge.get() != nullptr)) {
    edge.get()->PhysAddr = ApplicationArea;
    edge.get()->Offset = 0;
    edge.get()->LinearAddr = scratch;
    edge.get()->Count = ApplicationAreaSize;
    std::memset(edge.get()->Data, 0xEE, ApplicationAreaSize / 2);
    CHECK(driver.request(ferrox::Request::WriteWindow, edge.get()).failed_with(EFAULT));
    CHECK(read_dev_mem(ApplicationArea, ApplicationAreaSize) ==
          std::vector<std::uint8_t>(known->Data, known->Data + ApplicationAreaSize));
    CHECK(driver.request(ferrox::Request::ReadWindow, edge.get()).failed_with(EFAULT));
  }
  CHECK_EQ(driver.request(ferrox::Request::WriteWindow, original.get()).result, 0);
  CHECK_EQ(driver.unmap(scratch).result, 0);
}

}  // namespace e2e
