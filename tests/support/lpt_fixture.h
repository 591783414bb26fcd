// SPDX-License-Identifier: MIT
// Fixture for the parallel-port tests: a component with its driver open on a fresh virtual PC,
// and the port traffic that reached the machine on either access path.
#pragma once

#include <string>
#include <vector>

#include "tests/support/ports_fixture.h"

struct PortAccess {
  std::uint32_t port;
  std::uint32_t value;
  friend bool operator==(const PortAccess&, const PortAccess&) = default;
};

inline void PrintTo(const PortAccess& access, std::ostream* out) {
  *out << std::hex << "0x" << access.port << "=0x" << access.value;
}

class LptTest : public VirtualPcTest {
 protected:
  // Rebuilds the machine and opens the driver on it; the log then starts empty.
  void open_on(const ferrox::vpc::MachineDescription& description) {
    pc.reset(description);
    component->OpenDriver();
    pc.log().clear();
  }
  static ferrox::vpc::MachineDescription with_bios_ports(std::uint16_t first, std::uint16_t second, std::uint16_t third) {
    ferrox::vpc::MachineDescription description = ferrox::vpc::default_machine();
    description.bios.lpt = {first, second, third};
    return description;
  }
  static ferrox::vpc::MachineDescription with_plug(ferrox::vpc::ParallelPlug plug, ferrox::vpc::PrinterSettings printer = {}) {
    ferrox::vpc::MachineDescription description = ferrox::vpc::default_machine();
    description.parallel_ports[0].plugged = plug;
    description.parallel_ports[0].printer = printer;
    return description;
  }

  // Byte reads or writes that reached the ports, through driver requests or port instructions.
  std::vector<PortAccess> port_reads() const { return byte_transfers(ferrox::Request::PortInB, ferrox::vpc::Event::PortIn); }
  std::vector<PortAccess> port_writes() const {
    return byte_transfers(ferrox::Request::PortOutB, ferrox::vpc::Event::PortOut);
  }

  ferrox::vpc::ParallelConnector& connector(std::uint16_t base = 0x378) { return pc.parallel_ports().at(base)->connector(); }

  Component component = make_component();

 private:
  std::vector<PortAccess> byte_transfers(std::uint32_t code, ferrox::vpc::Event instruction) const {
    std::vector<PortAccess> transfers;
    for (const ferrox::vpc::LogEntry& entry : pc.log().entries()) {
      if (entry.event == ferrox::vpc::Event::Request && entry.code == code) {
        auto record = code == ferrox::Request::PortInB ? entry.returned_as<ferrox::TPortRecord>()
                                                       : entry.sent_as<ferrox::TPortRecord>();
        transfers.push_back({record.Port, record.Value & 0xFF});
      } else if (entry.event == instruction && entry.width == 1) {
        transfers.push_back({entry.port, entry.value});
      }
    }
    return transfers;
  }
};

// The same tests on the driver path (HardAccess True) and the direct path (port instructions).
class LptPathTest : public LptTest, public ::testing::WithParamInterface<bool> {
 protected:
  void open_on(const ferrox::vpc::MachineDescription& description) {
    LptTest::open_on(description);
    component->fSetHardAccess(GetParam());
    pc.log().clear();
  }
  // Every byte transfer took the path under test.
  void TearDown() override {
    bool driver = GetParam();
    for (const ferrox::vpc::LogEntry& entry : pc.log().entries()) {
      bool port_request = entry.event == ferrox::vpc::Event::Request &&
                          (entry.code == ferrox::Request::PortInB || entry.code == ferrox::Request::PortOutB);
      bool instruction = entry.event == ferrox::vpc::Event::PortIn || entry.event == ferrox::vpc::Event::PortOut;
      EXPECT_FALSE(driver ? instruction : port_request) << "a transfer off the path under test";
    }
  }
};

inline std::string access_path_name(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "Driver" : "Direct";
}
