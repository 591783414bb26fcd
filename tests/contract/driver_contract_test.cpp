// SPDX-License-Identifier: MIT
// The driver's contract scenarios on the virtual PC: the same scenarios the end-to-end suite runs
// against the kernel driver inside the emulated PC.
#include "tests/contract/contract_scenarios.h"
#include "tests/support/gtest_checks.h"
#include "tests/support/virtual_pc.h"

namespace {

class DriverContract : public VirtualPcTest {
 protected:
  GTestChecks checks;
};

TEST_F(DriverContract, MalformedPortRequests) { contract::malformed_port_requests(checks); }

TEST_F(DriverContract, PciConfigurationPorts) { contract::pci_configuration_ports(checks); }

TEST_F(DriverContract, MalformedWindowRequests) { contract::malformed_window_requests(checks); }

TEST_F(DriverContract, MalformedPciRequests) { contract::malformed_pci_requests(checks); }

TEST_F(DriverContract, MalformedInterruptRequests) { contract::malformed_interrupt_requests(checks); }

TEST_F(DriverContract, InterruptsReachEachListener) {
  contract::interrupts_reach_each_listener(checks);
  EXPECT_TRUE(pc.irqs().listeners().empty());
}

// The machine stays with the process that started it: a forked child's requests are refused.
TEST_F(DriverContract, WindowsAndLinesBelongToTheirProcess) {
  contract::windows_and_lines_belong_to_their_process(checks, contract::ForkedChild::Refused);
  EXPECT_EQ(pc.windows().live_windows(), 0u);
}

TEST_F(DriverContract, StillServing) {
  contract::malformed_port_requests(checks);
  contract::still_serving(checks);
}

}  // namespace
