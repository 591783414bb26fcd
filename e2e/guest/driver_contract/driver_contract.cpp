// The driver's contract end to end: every request against the emulated PC's real devices, through
// /dev/ferrox with the contract's records (and the processor's port instructions for comparison),
// then requests that are malformed in every field.
#include <cstdio>

#include "common/check.h"
#include "parallel_port.h"
#include "scenarios.h"

using namespace e2e;

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Driver driver;
  if (!check_equal(driver.open_error(), 0, "open /dev/ferrox", __FILE__, __LINE__)) return finish("driver_contract");
  DriverPath via_driver(driver);
  DirectPath direct;
  CHECK(direct.granted());

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
  interrupts_reach_the_process(driver, via_driver);
  lines_churn_under_interrupts(direct);
  descriptor_release_frees_lines();
  lines_the_driver_cannot_take(driver);
  pci_configuration(driver);
  physical_memory_windows(driver);
  bad_requests(driver);
  bad_windows(driver);
  bad_pci_requests(driver);
  bad_interrupt_requests(driver);
  still_healthy(driver);
  return finish("driver_contract");
}
