// SPDX-License-Identifier: MIT
// The library's machine scenarios on the virtual PC: the same scenarios the end-to-end suite runs
// inside the emulated PC, with the facts taken from the virtual PC's own description.
#include <gtest/gtest.h>

#include <string>

#include "tests/scenarios/machine_scenarios.h"
#include "tests/support/component.h"
#include "tests/support/gtest_checks.h"
#include "tests/support/virtual_pc.h"

namespace {

scenarios::MachineFacts facts_of(ferrox::vpc::Machine& pc) {
  scenarios::MachineFacts facts;
  facts.bios_data_area.resize(scenarios::BiosDataAreaSize);
  pc.memory().read(scenarios::BiosDataArea, facts.bios_data_area);
  facts.bios_rom.resize(scenarios::BiosRomSize);
  pc.memory().read(scenarios::BiosRom, facts.bios_rom);
  ferrox::vpc::PciFunction* host_bridge = pc.pci().find(0, 0);
  for (unsigned i = 0; host_bridge && i < facts.host_bridge_header.size(); ++i)
    facts.host_bridge_header[i] = static_cast<std::uint8_t>(host_bridge->read(i, 1));
  facts.disk_model = pc.description().ata_disk_model.value_or("");
  return facts;
}

class MachineScenarios : public VirtualPcTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    VirtualPcTest::SetUp();
    component->OpenDriver();
    ASSERT_TRUE(component->DriverActive());
    component->fSetHardAccess(GetParam());
    facts = facts_of(pc);
  }
  std::string printed() { return pc.parallel_ports().printer(0x378)->received_text(); }

  Component component = make_component();
  scenarios::MachineFacts facts;
  GTestChecks checks;
};

TEST_P(MachineScenarios, ParallelPortsFromTheFirmwareTable) {
  scenarios::parallel_ports_from_firmware(*component, facts, checks);
}

TEST_P(MachineScenarios, ParallelPortPins) { scenarios::parallel_port_pins(*component, checks); }

TEST_P(MachineScenarios, PrintingWithTheHandshake) {
  std::string line = scenarios::print_with_handshake(*component, checks);
  EXPECT_EQ(printed(), line);
}

TEST_P(MachineScenarios, PrintingOnInterrupts) {
  std::string line = scenarios::print_on_interrupts(*component, checks);
  EXPECT_EQ(printed(), line);
}

TEST_P(MachineScenarios, AtaIdentifyAsAFifoBlock) { scenarios::ata_identify(*component, facts, checks); }

TEST_P(MachineScenarios, PciHostBridge) { scenarios::pci_host_bridge(*component, facts, checks); }

TEST_P(MachineScenarios, BiosMemory) { scenarios::bios_memory(*component, facts, checks); }

INSTANTIATE_TEST_SUITE_P(BothPaths, MachineScenarios, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "DriverPath" : "DirectPath");
                         });

}  // namespace
