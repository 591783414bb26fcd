// SPDX-License-Identifier: MIT
// PCI requests the driver must refuse, and functions that are not there.
#include <cerrno>
#include <cstring>

#include "tests/contract/contract_scenarios.h"
#include "tests/contract/driver.h"

namespace contract {

namespace Request = ferrox::Request;

namespace {

constexpr int InterruptLine = 0x3C;  // a plain scratch byte on every function

void malformed_records(scenarios::Checks& checks, const Driver& driver) {
  struct Case {
    int bus, devfn, reg, count;
  };
  const Case refused[] = {
      {0, 0, 4096, 1}, {0, 0, 4094, 4}, {0, 0, 0x1001, 1},  // past the 4096-byte space
      {0, 0, 1, 2},   {0, 0, 2, 4},                      // not aligned to the width
      {0, 0, 0, 3},   {0, 0, 0, 0},   {0, 0, 0, 8},      // no such width
      {256, 0, 0, 4}, {0, 256, 0, 4},                    // no such bus or function number
      {0, 0, 4, 64},                                     // a header starts at register 0
  };
  for (Case c : refused) {
    ferrox::TPciRequest request{};
    request.Bus = static_cast<std::uint16_t>(c.bus);
    request.DevFn = static_cast<std::uint16_t>(c.devfn);
    request.Reg = static_cast<std::uint16_t>(c.reg);
    request.Count = static_cast<std::uint16_t>(c.count);
    SCENARIO_CHECK(checks, driver.pci(Request::PciRead, request).failed_with(EINVAL));
    SCENARIO_CHECK(checks, driver.pci(Request::PciWrite, request).failed_with(EINVAL));
  }
  auto header = pci_request(0, 0, 0, 0, ferrox::PciHeaderCount);
  SCENARIO_CHECK(checks, driver.pci(Request::PciWrite, header).failed_with(EINVAL));  // never written whole
}

// A value with bits above the register's width is a record built wrongly: nothing is written, not
// even its low part. A double word takes all 32 bits.
void values_wider_than_the_register(scenarios::Checks& checks, const Driver& driver) {
  auto line = pci_request(0, 0, 0, InterruptLine, 1);
  long original = driver.pci(Request::PciRead, line).result;
  for (auto wide : {pci_request(0, 0, 0, InterruptLine, 1, 0x1A5), pci_request(0, 0, 0, InterruptLine, 2, 0x10000)}) {
    SCENARIO_CHECK(checks, driver.pci(Request::PciWrite, wide).failed_with(EINVAL));
    SCENARIO_EQ(checks, driver.pci(Request::PciRead, line).result, original);
  }
  auto dword = pci_request(0, 0, 0, InterruptLine, 4, 0xFFFFFF5A);
  SCENARIO_EQ(checks, driver.pci(Request::PciWrite, dword).result, 0);
  SCENARIO_EQ(checks, driver.pci(Request::PciRead, line).result, 0x5A);
  auto restore = pci_request(0, 0, 0, InterruptLine, 1, static_cast<std::uint32_t>(original));
  SCENARIO_EQ(checks, driver.pci(Request::PciWrite, restore).result, 0);
}

// Where no function answers, reads are all ones as on the bus itself, a header read answers 0 and
// leaves the record alone, and a write fails rather than vanish.
void absent_functions(scenarios::Checks& checks, const Driver& driver) {
  for (int bus : {0, 200}) {  // nothing at 0:31.7; no bus 200 at all
    for (auto [width, ones] : {std::pair{1, 0xFFu}, {2, 0xFFFFu}, {4, 0xFFFFFFFFu}}) {
      auto absent = pci_request(bus, 31, 7, 0, width);
      SCENARIO_EQ(checks, static_cast<std::uint32_t>(driver.pci(Request::PciRead, absent).result), ones);
    }
    auto write = pci_request(bus, 31, 7, InterruptLine, 1, 0x11);
    SCENARIO_CHECK(checks, driver.pci(Request::PciWrite, write).failed_with(ENODEV));

    auto header = pci_request(bus, 31, 7, 0, ferrox::PciHeaderCount);
    std::memset(header.Unused, 0x5A, sizeof(header.Unused));
    const auto sent = header;
    SCENARIO_EQ(checks, driver.pci(Request::PciRead, header).result, 0);
    SCENARIO_CHECK(checks, std::memcmp(&header, &sent, sizeof(header)) == 0);
  }
}

}  // namespace

void malformed_pci_requests(scenarios::Checks& checks) {
  Driver driver(checks);
  if (!SCENARIO_EQ(checks, driver.open_error(), 0)) return;
  malformed_records(checks, driver);
  values_wider_than_the_register(checks, driver);
  absent_functions(checks, driver);
}

}  // namespace contract
