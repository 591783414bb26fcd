// SPDX-License-Identifier: MIT
// The driver inside the emulated PC: the contract's scenarios (shared with the ordinary suite),
// then every request against the PC's real devices, through /dev/ferrox and, for comparison, the
// processor's port instructions.
#include <cstdio>

#include "common/check.h"
#include "direct_path.h"
#include "scenarios.h"
#include "tests/contract/contract_scenarios.h"
#include "tests/contract/parallel_port.h"

using namespace e2e;
namespace lpt = contract::lpt;

namespace {

void contract_scenarios() {
  scenarios::Checks& checks = tally();
  scenario("malformed port requests");
  contract::malformed_port_requests(checks);
  scenario("the PCI configuration ports");
  contract::pci_configuration_ports(checks);
  scenario("malformed window requests");
  contract::malformed_window_requests(checks);
  scenario("malformed PCI requests, absent functions");
  contract::malformed_pci_requests(checks);
  scenario("malformed interrupt requests");
  contract::malformed_interrupt_requests(checks);
  scenario("interrupts on line 7 reach each listener");
  contract::interrupts_reach_each_listener(checks);
  scenario("windows and lines belong to their process");
  contract::windows_and_lines_belong_to_their_process(checks);
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Driver driver(tally());
  if (!CHECK_EQ(driver.open_error(), 0)) return finish("driver_contract");
  contract::DriverPath via_driver(driver);
  DirectPath direct;
  CHECK(direct.granted());

  contract_scenarios();
  opening_needs_raw_io_capability();
  parallel_ports_listed_by_firmware(driver);
  for (PortPath* path : {static_cast<PortPath*>(&via_driver), static_cast<PortPath*>(&direct)}) {
    parallel_port_registers(*path);
    printing(*path, lpt::Lpt1, "lpt1");
    ata_identify(*path);
  }
  paths_reach_the_same_port(via_driver, direct);
  paths_reach_the_same_port(direct, via_driver);
  printing(via_driver, lpt::Lpt2, "lpt2");
  descriptor_release_frees_lines();
  lines_churn_under_interrupts(direct);
  lines_the_driver_cannot_take(driver);
  interrupts_reach_a_thread_that_takes_them();
  interrupts_outlive_the_main_thread();
  interrupts_reach_a_sigwaitinfo_worker();
  interrupts_after_the_receiving_thread_exits();
  interrupts_a_process_cannot_take();
  pci_configuration(driver);
  physical_memory_windows(driver);
  memory_kernel_drivers_hold(driver);
  records_that_fault(driver);
  kernel_held_resources(driver);
  scenario("the driver still serves");
  contract::still_serving(tally());
  return finish("driver_contract");
}
