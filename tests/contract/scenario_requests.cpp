// SPDX-License-Identifier: MIT
// Requests the driver must refuse as a whole, the port requests' bounds and the PCI configuration
// ports; then a check that the driver still serves after everything the scenarios sent.
#include <cerrno>
#include <utility>

#include "tests/contract/contract_scenarios.h"
#include "tests/contract/driver.h"
#include "tests/contract/parallel_port.h"

namespace contract {

namespace Request = ferrox::Request;

namespace {

Answer port(const Driver& driver, std::uint32_t code, std::uint32_t number, std::uint32_t value = 0) {
  ferrox::TPortRecord record{number, value};
  return driver.request(code, &record);
}

}  // namespace

void malformed_port_requests(scenarios::Checks& checks) {
  Driver driver(checks);
  if (!SCENARIO_EQ(checks, driver.open_error(), 0)) return;

  // The right number with another size, type or direction is another code.
  ferrox::TPortRecord record{lpt::Lpt1 + lpt::Status, 0};
  for (std::uint32_t code : {ferrox::MakeRequestCode('h', 10, 8), ferrox::MakeRequestCode('h', 99, 8),
                             ferrox::MakeRequestCode('h', 4, 4), ferrox::MakeRequestCode('h', 4, 16),
                             ferrox::MakeRequestCode('g', 4, 8), Request::PortInB & ~0x40000000u,
                             ferrox::MakeRequestCode('h', 20, 4), 0x5401u, 0u})
    SCENARIO_CHECK(checks, driver.request(code, &record).failed_with(ENOTTY));

  for (std::uint32_t code : {Request::PortInB, Request::Map, Request::Unmap, Request::ReadWindow, Request::PciRead,
                             Request::IrqUnmask})
    SCENARIO_CHECK(checks, driver.request(code, nullptr).failed_with(EFAULT));

  // A wide transfer covers width consecutive ports, all inside the port space.
  SCENARIO_CHECK(checks, port(driver, Request::PortInB, 0x10000).failed_with(EINVAL));
  SCENARIO_CHECK(checks, port(driver, Request::PortInW, 0xFFFF).failed_with(EINVAL));
  SCENARIO_CHECK(checks, port(driver, Request::PortInL, 0xFFFD).failed_with(EINVAL));
  SCENARIO_CHECK(checks, port(driver, Request::PortOutL, 0xFFFD).failed_with(EINVAL));
  SCENARIO_CHECK(checks, port(driver, Request::PortInB, 0xFFFFFFFF).failed_with(EINVAL));
  SCENARIO_EQ(checks, port(driver, Request::PortInL, 0xFFFC).result, 0);  // the last four ports
  SCENARIO_EQ(checks, port(driver, Request::PortInB, 0xFFFF).result, 0);

  // A value with bits above the width is a record built wrongly: not even its low part goes out.
  const std::uint16_t data = lpt::Lpt1 + lpt::Data;
  driver.port_out(1, data, 0x11);
  SCENARIO_CHECK(checks, port(driver, Request::PortOutB, data, 0x1A5).failed_with(EINVAL));
  SCENARIO_CHECK(checks, port(driver, Request::PortOutW, data, 0x10000).failed_with(EINVAL));
  SCENARIO_EQ(checks, driver.port_in(1, data), 0x11);
  // A word reaches the data register and the (read-only) status register after it.
  SCENARIO_EQ(checks, port(driver, Request::PortOutW, data, 0xFF22).result, 0);
  SCENARIO_EQ(checks, driver.port_in(1, data), 0x22);
}

void pci_configuration_ports(scenarios::Checks& checks) {
  Driver driver(checks);
  if (!SCENARIO_EQ(checks, driver.open_error(), 0)) return;
  auto reg = [&](int offset, int width) {
    auto request = pci_request(0, 0, 0, offset, width);
    return static_cast<std::uint32_t>(driver.pci(Request::PciRead, request).result);
  };
  driver.port_out(4, 0xCF8, 0x80000000u);  // the host bridge's first register
  SCENARIO_EQ(checks, driver.port_in(4, 0xCF8), 0x80000000u);
  SCENARIO_EQ(checks, driver.port_in(4, 0xCFC), reg(0, 4));
  SCENARIO_EQ(checks, driver.port_in(2, 0xCFE), reg(2, 2));
  SCENARIO_EQ(checks, driver.port_in(1, 0xCFD), reg(1, 1));
  // 0xCF9 is the chipset's reset control; narrower accesses to the address register and unaligned
  // ones to the data register are no configuration cycles either.
  const std::pair<std::uint32_t, int> refused[] = {{0xCF9, 1}, {0xCF8, 1}, {0xCF8, 2}, {0xCFA, 2},
                                                   {0xCFB, 1}, {0xCF7, 4}, {0xCFD, 2}, {0xCFE, 4}};
  for (auto [number, width] : refused) {
    SCENARIO_CHECK(checks, port(driver, width == 1 ? Request::PortInB : width == 2 ? Request::PortInW : Request::PortInL,
                                number).failed_with(EPERM));
    SCENARIO_CHECK(checks, port(driver, width == 1 ? Request::PortOutB : width == 2 ? Request::PortOutW : Request::PortOutL,
                                number).failed_with(EPERM));
  }
  SCENARIO_EQ(checks, driver.port_in(4, 0xCF8), 0x80000000u);  // unchanged by what was refused
  driver.port_out(4, 0xCF8, 0);  // disabled: the data register reads all ones, writes go nowhere
  SCENARIO_EQ(checks, driver.port_in(4, 0xCFC), 0xFFFFFFFFu);
  SCENARIO_EQ(checks, port(driver, Request::PortOutL, 0xCFC, 0x12345678).result, 0);
}

void still_serving(scenarios::Checks& checks) {
  Driver driver(checks);
  if (!SCENARIO_EQ(checks, driver.open_error(), 0)) return;
  DriverPath path(driver);
  lpt::reset(path, lpt::Lpt1);
  SCENARIO_CHECK(checks, driver.port_in(1, lpt::Lpt1 + lpt::Status) & lpt::NotBusy);
  auto header = pci_request(0, 0, 0, 0, ferrox::PciHeaderCount);
  SCENARIO_EQ(checks, driver.pci(Request::PciRead, header).result, 1);
  std::uint32_t window = driver.map(0x408, 2);
  SCENARIO_CHECK(checks, window != 0);
  SCENARIO_EQ(checks, driver.transfer(Request::ReadWindow, 0x408, window, 0, 2).result, 0);
  SCENARIO_EQ(checks, driver.unmap(window).result, 0);
  SCENARIO_EQ(checks, driver.irq(Request::IrqUnmask, this_process(), ferrox::InterruptSignal, 7).result, 0);
  SCENARIO_EQ(checks, driver.irq(Request::IrqMask, this_process(), ferrox::InterruptSignal, 7).result, 0);
}

}  // namespace contract
