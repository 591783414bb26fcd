// SPDX-License-Identifier: MIT
// Parallel ports: discovery from the firmware's table, registers and lines, printing.
#include <cstring>
#include <string>

#include "common/check.h"
#include "common/dev_mem.h"
#include "scenarios.h"
#include "tests/contract/parallel_port.h"

namespace e2e {

namespace lpt = contract::lpt;

// The firmware lists the ports it found as words at 0x408, 0x40A and 0x40C of the BIOS data area.
void parallel_ports_listed_by_firmware(const Driver& driver) {
  scenario("parallel ports listed by the firmware");
  constexpr std::uint32_t Table = 0x408;
  std::uint32_t window = driver.map(Table, 6);
  if (!CHECK(window != 0)) return;
  auto record = contract::make_memory_record(Table, window, 0, 6);
  CHECK_EQ(driver.request(ferrox::Request::ReadWindow, record.get()).result, 0);
  auto word = [&](int i) { return record->Data[2 * i] | record->Data[2 * i + 1] << 8; };
  CHECK_EQ(word(0), lpt::Lpt1);
  CHECK_EQ(word(1), lpt::Lpt2);
  CHECK_EQ(word(2), 0);
  auto reference = read_dev_mem(Table, 6);
  CHECK(reference.size() == 6 && std::memcmp(reference.data(), record->Data, 6) == 0);
  CHECK_EQ(driver.unmap(window).result, 0);
}

void parallel_port_registers(PortPath& path) {
  scenario((std::string("parallel port registers, ") + path.name()).c_str());
  lpt::reset(path, lpt::Lpt1);
  for (std::uint8_t value : {0x00, 0xFF, 0xA5, 0x5A}) {
    path.out8(lpt::Lpt1 + lpt::Data, value);
    CHECK_EQ(path.in8(lpt::Lpt1 + lpt::Data), value);
  }
  // Control lines other than the strobe, which would print; init stays released.
  for (std::uint8_t lines : {0x04, 0x06, 0x0C, 0x0E, 0x1C}) {
    path.out8(lpt::Lpt1 + lpt::Control, lines);
    CHECK_EQ(path.in8(lpt::Lpt1 + lpt::Control) & lpt::ControlBits, lines);
  }
  lpt::reset(path, lpt::Lpt1);
  std::uint8_t status = path.in8(lpt::Lpt1 + lpt::Status);
  CHECK(status & lpt::NotBusy);  // a reset printer is ready
  CHECK_EQ(path.in8(lpt::Lpt1 + lpt::Status), status);
}

void paths_reach_the_same_port(PortPath& writer, PortPath& reader) {
  scenario((std::string("written by the ") + writer.name() + ", read by the " + reader.name()).c_str());
  for (std::uint8_t value : {0x3C, 0xC3}) {
    writer.out8(lpt::Lpt1 + lpt::Data, value);
    CHECK_EQ(reader.in8(lpt::Lpt1 + lpt::Data), value);
  }
  writer.out8(lpt::Lpt1 + lpt::Control, 0x0E);
  CHECK_EQ(reader.in8(lpt::Lpt1 + lpt::Control) & lpt::ControlBits, 0x0E);
  lpt::reset(writer, lpt::Lpt1);
}

// The host checks that this line arrived in the file behind the port.
void printing(PortPath& path, std::uint16_t base, const char* port_name) {
  std::string line = std::string("ferrox ") + port_name + " " + path.name() + " " + scenarios::abi() + "\n";
  scenario(("printing on " + std::string(port_name) + ", " + path.name()).c_str());
  lpt::reset(path, base);
  CHECK(lpt::print(path, base, line));
}

}  // namespace e2e
