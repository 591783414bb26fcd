// Physical memory through windows: the BIOS data area and the BIOS ROM compared with /dev/mem, a
// write into the data area's scratch bytes, a large window, and memory the kernel keeps to itself.
#include <cerrno>
#include <cstring>

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
  auto record = make_memory_record(phys, window, offset, count);
  CHECK_EQ(driver.request(ferrox::Request::ReadWindow, record.get()).result, 0);
  CHECK(same_as_dev_mem(*record));
}

void bios_data_area(const Driver& driver) {
  std::uint32_t window = driver.map(BiosDataArea, BiosDataAreaSize);
  if (!CHECK(window != 0)) return;
  read_matches_dev_mem(driver, BiosDataArea, window, 0, BiosDataAreaSize);
  auto ports = make_memory_record(BiosDataArea, window, 8, 4);
  CHECK_EQ(driver.request(ferrox::Request::ReadWindow, ports.get()).result, 0);
  CHECK_EQ(ports->Data[0] | ports->Data[1] << 8, 0x378);
  CHECK_EQ(ports->Data[2] | ports->Data[3] << 8, 0x278);
  CHECK_EQ(driver.unmap(window).result, 0);
}

void bios_rom(const Driver& driver) {
  std::uint32_t window = driver.map(BiosRom, BiosRomSize);
  if (!CHECK(window != 0)) return;
  auto record = make_memory_record(BiosRom, window, 0, BiosRomSize);  // the largest transfer
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
  auto original = make_memory_record(ApplicationArea, window, 0, ApplicationAreaSize);
  CHECK_EQ(driver.request(ferrox::Request::ReadWindow, original.get()).result, 0);

  auto pattern = make_memory_record(ApplicationArea, window, 4, 8);
  for (int i = 0; i < 8; ++i) pattern->Data[i] = static_cast<ferrox::Byte>(0xA0 + i);
  CHECK_EQ(driver.request(ferrox::Request::WriteWindow, pattern.get()).result, 0);
  auto back = make_memory_record(ApplicationArea, window, 0, ApplicationAreaSize);
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

  scenario("memory the kernel uses cannot be mapped");
  for (std::uint32_t ram : {0x1000u, 0x100000u, 0x200000u}) {
    errno = 0;
    CHECK_EQ(driver.map(ram, 4096), 0);
    CHECK_EQ(errno, EPERM);
  }
}

}  // namespace e2e
