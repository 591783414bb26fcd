// SPDX-License-Identifier: MIT
// Window requests the driver must refuse: ranges it cannot map, transfers outside a window of the
// descriptor, windows already released, and more windows than a descriptor may hold.
#include <cerrno>
#include <utility>
#include <vector>

#include "tests/contract/contract_scenarios.h"
#include "tests/contract/driver.h"

namespace contract {

namespace Request = ferrox::Request;

namespace {

constexpr std::uint32_t BiosDataArea = 0x400;
constexpr std::uint32_t WindowSizeLimit = 256u << 20;
constexpr int WindowsPerDescriptor = 64;

// Each map answers 0 with the errno expected, or a handle where no errno is expected.
void maps_answer(scenarios::Checks& checks, const Driver& driver, std::uint32_t phys, std::uint32_t size,
                 int expected_errno) {
  errno = 0;
  std::uint32_t handle = driver.map(phys, size);
  int error = errno;
  if (expected_errno == 0) {
    if (SCENARIO_CHECK(checks, handle != 0)) driver.unmap(handle);
  } else {
    SCENARIO_EQ(checks, handle, 0);
    SCENARIO_EQ(checks, error, expected_errno);
  }
}

void ranges_that_cannot_be_mapped(scenarios::Checks& checks, const Driver& driver) {
  const std::pair<std::uint32_t, std::uint32_t> invalid[] = {
      {BiosDataArea, 0},              // nothing
      {0xFFFFF000, 0x2000},           // past 4 GiB
      {0xFFFFFF00, 0x101},            // one byte past 4 GiB
      {0xE0000000, WindowSizeLimit + 1}};
  for (auto [phys, size] : invalid) maps_answer(checks, driver, phys, size, EINVAL);
  // System RAM, wholly or in part: the kernel's and processes' memory.
  const std::pair<std::uint32_t, std::uint32_t> system_ram[] = {
      {0x1000, 16}, {0xFF0, 0x20}, {0x9F000, 0x2000}, {0xFFF00, 0x101}, {0x100000, 0x1000}, {0x200000, 0x1000},
      {0x7FFFFF, 1}};
  for (auto [phys, size] : system_ram) maps_answer(checks, driver, phys, size, EPERM);
  // The firmware's first page, video memory and ROMs, device memory up to the very top.
  const std::pair<std::uint32_t, std::uint32_t> allowed[] = {
      {0, 0x1000}, {0xA0000, 0x60000}, {0xE0000000, WindowSizeLimit}, {0xFFFFFF00, 0x100}};
  for (auto [phys, size] : allowed) maps_answer(checks, driver, phys, size, 0);
}

// A transfer names its window twice, by LinearAddr and by PhysAddr, and must fit inside it.
void transfers_outside_a_window(scenarios::Checks& checks, const Driver& driver) {
  std::uint32_t window = driver.map(BiosDataArea, 256);
  if (!SCENARIO_CHECK(checks, window != 0)) return;
  // Another descriptor's windows, where their handles are not this descriptor's too.
  Driver other(checks);
  for (int i = 0; i < 2; ++i) {
    std::uint32_t theirs = other.map(BiosDataArea, 256);
    if (!SCENARIO_CHECK(checks, theirs != 0) || theirs == window) continue;
    SCENARIO_CHECK(checks, driver.transfer(Request::ReadWindow, BiosDataArea, theirs, 0, 1).failed_with(EINVAL));
    SCENARIO_CHECK(checks, driver.unmap(theirs).failed_with(EINVAL));
  }

  struct Refused {
    std::uint32_t phys, handle, offset, count;
  };
  const Refused refused[] = {
      {BiosDataArea, window, 256, 1},          // runs past the window
      {BiosDataArea, window, 0, 257},          // longer than the window
      {BiosDataArea, window, 0xFFFFFFFF, 2},   // offset + count wraps
      {BiosDataArea + 1, window, 0, 1},        // not the window's physical address
      {BiosDataArea, window + 1, 0, 1},        // not a window's handle
      {BiosDataArea, 0, 0, 1},                 // never a handle
  };
  for (const Refused& r : refused) {
    for (std::uint32_t code : {Request::ReadWindow, Request::WriteWindow}) {
      auto record = make_memory_record(r.phys, r.handle, r.offset, r.count);
      record->Data[0] = 0x77;
      SCENARIO_CHECK(checks, driver.request(code, record.get()).failed_with(EINVAL));
      SCENARIO_EQ(checks, record->Data[0], 0x77);
    }
  }
  SCENARIO_EQ(checks, driver.transfer(Request::ReadWindow, BiosDataArea, window, 255, 1).result, 0);
  SCENARIO_EQ(checks, driver.transfer(Request::ReadWindow, BiosDataArea, window, 256, 0).result, 0);

  // One transfer moves at most the record's 64 KiB, whatever the window's size.
  std::uint32_t wide = driver.map(0xC0000, 0x40000);
  SCENARIO_CHECK(checks, driver.transfer(Request::ReadWindow, 0xC0000, wide, 0, ferrox::MemRecDataSize + 1)
                             .failed_with(EINVAL));
  SCENARIO_EQ(checks, driver.transfer(Request::ReadWindow, 0xC0000, wide, 0x30000, ferrox::MemRecDataSize).result,
              0);
  SCENARIO_EQ(checks, driver.unmap(wide).result, 0);

  // A released window is gone for every request.
  SCENARIO_EQ(checks, driver.unmap(window).result, 0);
  SCENARIO_CHECK(checks, driver.unmap(window).failed_with(EINVAL));
  SCENARIO_CHECK(checks, driver.transfer(Request::ReadWindow, BiosDataArea, window, 0, 1).failed_with(EINVAL));
}

void windows_per_descriptor(scenarios::Checks& checks) {
  Driver many(checks);
  std::vector<std::uint32_t> windows;
  for (std::uint32_t handle; windows.size() < 1000 && (handle = many.map(BiosDataArea, 16)) != 0;)
    windows.push_back(handle);
  SCENARIO_EQ(checks, windows.size(), WindowsPerDescriptor);
  errno = 0;
  SCENARIO_EQ(checks, many.map(BiosDataArea, 16), 0);
  SCENARIO_EQ(checks, errno, ENOSPC);
  Driver another(checks);
  SCENARIO_CHECK(checks, another.map(BiosDataArea, 16) != 0);  // the bound is per descriptor
  SCENARIO_EQ(checks, many.unmap(windows.back()).result, 0);
  SCENARIO_CHECK(checks, many.map(BiosDataArea, 16) != 0);
}

}  // namespace

void malformed_window_requests(scenarios::Checks& checks) {
  Driver driver(checks);
  if (!SCENARIO_EQ(checks, driver.open_error(), 0)) return;
  ranges_that_cannot_be_mapped(checks, driver);
  transfers_outside_a_window(checks, driver);
  windows_per_descriptor(checks);
}

}  // namespace contract
