// SPDX-License-Identifier: MIT
// The kernel locked down while a descriptor is open (the lockdown boot of e2e/run.sh): from then on
// the descriptor reaches no port, no physical memory and no PCI register, and nothing opens the
// driver again; what only reads the driver's own state still answers. Raising the lockdown cannot be
// undone, so this program runs alone in its boot; the program of the second ABI finds the kernel
// locked down already, and checks that it cannot open the driver.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "common/check.h"
#include "common/kernel_module.h"
#include "tests/contract/driver.h"
#include "tests/contract/parallel_port.h"

using namespace e2e;
namespace Request = ferrox::Request;

namespace {

constexpr std::uint32_t BiosDataArea = 0x400;
constexpr const char* LockdownFile = "/sys/kernel/security/lockdown";

void requests_after_lockdown(const contract::Driver& driver, std::uint32_t window) {
  ferrox::TPortRecord status{contract::lpt::Lpt1 + contract::lpt::Status, 0};
  CHECK(driver.request(Request::PortInB, &status).failed_with(EPERM));
  ferrox::TPortRecord data{contract::lpt::Lpt1, 0};
  CHECK(driver.request(Request::PortOutB, &data).failed_with(EPERM));
  errno = 0;
  CHECK_EQ(driver.map(BiosDataArea, 16), 0);
  CHECK_EQ(errno, EPERM);
  CHECK(driver.transfer(Request::ReadWindow, BiosDataArea, window, 0, 16).failed_with(EPERM));
  CHECK(driver.transfer(Request::WriteWindow, BiosDataArea, window, 0xF0, 1).failed_with(EPERM));
  auto line = contract::pci_request(0, 0, 0, 0x3C, 1, 0);
  line.Value = static_cast<std::uint32_t>(driver.pci(Request::PciRead, line).result);
  CHECK(driver.pci(Request::PciWrite, line).failed_with(EPERM));
  CHECK(driver.irq_count(contract::lpt::Lpt1Irq) >= 0);
  CHECK_EQ(driver.unmap(window).result, 0);
}

}  // namespace

// Whether the kernel is locked down already: its lockdown file marks the level in force.
bool locked_down() {
  std::ifstream lockdown(LockdownFile);
  std::string levels((std::istreambuf_iterator<char>(lockdown)), std::istreambuf_iterator<char>());
  return !levels.empty() && levels.find("[none]") == std::string::npos;
}

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (locked_down()) {
    scenario("the kernel was locked down before this program");
    CHECK(::open(ferrox::DriverDevicePath, O_RDONLY) < 0 && errno == EPERM);
    return finish("lockdown");
  }
  contract::Driver driver(tally());
  if (!CHECK_EQ(driver.open_error(), 0)) return finish("lockdown");
  scenario("requests before the lockdown");
  driver.port_in(1, contract::lpt::Lpt1 + contract::lpt::Status);  // a failed request is a failed check
  std::uint32_t window = driver.map(BiosDataArea, 16);
  CHECK(window != 0);
  CHECK_EQ(driver.transfer(Request::ReadWindow, BiosDataArea, window, 0, 16).result, 0);

  scenario("the kernel locked down for integrity, the descriptor still open");
  if (CHECK(write_sysfs(LockdownFile, "integrity"))) {
    requests_after_lockdown(driver, window);
    CHECK(::open(ferrox::DriverDevicePath, O_RDONLY) < 0 && errno == EPERM);
  }
  return finish("lockdown");
}
