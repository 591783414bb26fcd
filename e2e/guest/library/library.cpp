// SPDX-License-Identifier: MIT
// The library's machine scenarios (tests/scenarios) inside the emulated PC: libferrox built for
// this ABI drives the real devices through the kernel driver and with port instructions; the
// facts come from /dev/mem, sysfs and what the run script built.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/check.h"
#include "common/dev_mem.h"
#include "common/emulated_pc.h"
#include "tests/scenarios/machine_scenarios.h"
#include "tests/support/component.h"

namespace {

scenarios::MachineFacts facts_of_this_pc() {
  scenarios::MachineFacts facts;
  facts.bios_data_area = e2e::read_dev_mem(scenarios::BiosDataArea, scenarios::BiosDataAreaSize);
  facts.bios_rom = e2e::read_dev_mem(scenarios::BiosRom, scenarios::BiosRomSize);
  std::ifstream config("/sys/bus/pci/devices/0000:00:00.0/config", std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(config), std::istreambuf_iterator<char>()};
  for (std::size_t i = 0; i < facts.host_bridge_header.size() && i < bytes.size(); ++i)
    facts.host_bridge_header[i] = static_cast<std::uint8_t>(bytes[i]);
  facts.disk_model = e2e::DiskModel;
  return facts;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  scenarios::Checks& checks = e2e::tally();
  scenarios::MachineFacts facts = facts_of_this_pc();
  CHECK(facts.bios_data_area.size() == scenarios::BiosDataAreaSize);
  CHECK(facts.bios_rom.size() == scenarios::BiosRomSize);

  Component component = make_component();
  component->OpenDriver();
  if (!CHECK(component->DriverActive())) return e2e::finish("library");

  e2e::scenario("parallel ports from the firmware's table");
  scenarios::parallel_ports_from_firmware(*component, facts, checks);
  for (bool through_driver : {true, false}) {
    component->fSetHardAccess(through_driver);
    CHECK(component->HardAccess() == through_driver);
    const char* path = scenarios::access_path(*component);
    std::printf("-- %s\n", path);
    e2e::scenario("parallel port pins and control lines");
    scenarios::parallel_port_pins(*component, checks);
    e2e::scenario("a line printed with the handshake");
    scenarios::print_with_handshake(*component, checks);
    e2e::scenario("a line printed on interrupts, line 7");
    scenarios::print_on_interrupts(*component, checks);
    e2e::scenario("ATA IDENTIFY read with ReadPortWFIFO");
    scenarios::ata_identify(*component, facts, checks);
  }
  e2e::scenario("PCI: the host bridge");
  scenarios::pci_host_bridge(*component, facts, checks);
  e2e::scenario("physical memory: the BIOS data area and ROM");
  scenarios::bios_memory(*component, facts, checks);
  component->CloseDriver();
  return e2e::finish("library");
}
