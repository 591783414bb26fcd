// SPDX-License-Identifier: MIT
// The virtual PC's parallel ports at the register level: line levels and inversions, the
// acknowledge interrupt, and the printer's handshake counted in port accesses.
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/virtual_pc.h"

namespace {

constexpr std::uint16_t Lpt1 = 0x378, Lpt2 = 0x278;

class VpcParallelTest : public VirtualPcTest {
 protected:
  std::uint8_t read(std::uint16_t port) { return static_cast<std::uint8_t>(pc.ports().read(port, 1)); }
  void write(std::uint16_t port, std::uint8_t value) { pc.ports().write(port, 1, value); }
  ferrox::vpc::ParallelConnector& connector(std::uint16_t base) { return pc.parallel_ports().at(base)->connector(); }
  ferrox::vpc::Printer& printer() { return *pc.parallel_ports().printer(Lpt1); }

  // One byte handed to the printer on the first port: data, then a strobe pulse.
  void strobe_byte(std::uint8_t byte) {
    write(Lpt1, byte);
    write(Lpt1 + 2, 0x0D);
    write(Lpt1 + 2, 0x0C);
  }
  // Enough accesses for the default printer to finish a byte.
  void let_printer_finish() {
    for (int access = 0; access < 10; ++access) read(Lpt1 + 1);
  }
};

TEST_F(VpcParallelTest, PortsStartAsTheFirmwareLeavesThem) {
  EXPECT_EQ(read(Lpt1), 0x00);
  EXPECT_EQ(read(Lpt1 + 1), 0xDF) << "a printer on line, with paper, not busy";
  EXPECT_EQ(read(Lpt1 + 2), 0xCC) << "init high, select in, the unused bits read as ones";
  EXPECT_EQ(read(Lpt2 + 1), 0x7F) << "nothing plugged in: every input floats high";
  EXPECT_EQ(pc.parallel_ports().printer(Lpt2), nullptr);
}

// The control register reads the lines, so one held low from outside shows as asserted. A wide
// access is one byte cycle to each register it spans.
TEST_F(VpcParallelTest, RegistersReadTheLines) {
  connector(Lpt2).pull_low(1, true);
  EXPECT_EQ(read(Lpt2 + 2), 0xCD);
  write(Lpt2 + 1, 0x00);
  EXPECT_EQ(read(Lpt2 + 1), 0x7F) << "the status register ignores writes";
  write(Lpt2, 0x5A);
  EXPECT_EQ(pc.ports().read(Lpt2, 2), 0x7F5Au);
  pc.ports().write(Lpt2 + 1, 2, 0x0400);
  EXPECT_EQ(read(Lpt2 + 2), 0xC5);
}

TEST_F(VpcParallelTest, TheEndOfAnAcknowledgePulseInterruptsWhileEnabled) {
  for (auto [base, line] : {std::pair{Lpt1, 7u}, std::pair{Lpt2, 5u}}) {
    connector(base).pull_low(10, true);
    connector(base).pull_low(10, false);
    EXPECT_EQ(pc.irqs().count(line), 0u) << "interrupt disabled";
    write(base + 2, 0x1C);
    connector(base).pull_low(10, true);
    EXPECT_EQ(pc.irqs().count(line), 0u) << "not while acknowledge is low";
    connector(base).pull_low(10, false);
    EXPECT_EQ(pc.irqs().count(line), 1u);
  }
}

// Default timing: busy for 8 accesses after the strobe pulse, then acknowledge low for 2.
TEST_F(VpcParallelTest, ThePrinterHandshakeIsCountedInPortAccesses) {
  write(Lpt1, 'A');
  write(Lpt1 + 2, 0x0D);
  EXPECT_EQ(read(Lpt1 + 1), 0x5F) << "busy while strobe is low";
  write(Lpt1 + 2, 0x0C);
  std::vector<std::uint8_t> statuses;
  for (int access = 0; access < 11; ++access) statuses.push_back(read(Lpt1 + 1));
  std::vector<std::uint8_t> expected(7, 0x5F);
  expected.insert(expected.end(), 2, 0x1F);
  expected.insert(expected.end(), 2, 0xDF);
  EXPECT_EQ(statuses, expected);
  EXPECT_EQ(printer().received_text(), "A");
}

TEST_F(VpcParallelTest, AStrobeWhileBusyOrInResetIsLost) {
  strobe_byte('1');
  strobe_byte('2');  // still printing the first
  EXPECT_EQ(printer().received_text(), "1");
  EXPECT_EQ(printer().missed_strobes(), 1u);

  let_printer_finish();
  strobe_byte('3');
  write(Lpt1 + 2, 0x08);  // init low: the byte being printed is abandoned, the printer held
  EXPECT_EQ(read(Lpt1 + 1) & 0xC0, 0x40) << "busy, and no acknowledge comes";
  write(Lpt1, '4');
  write(Lpt1 + 2, 0x09);
  write(Lpt1 + 2, 0x08);
  EXPECT_EQ(printer().missed_strobes(), 2u);
  write(Lpt1 + 2, 0x0C);
  EXPECT_EQ(read(Lpt1 + 1), 0xDF) << "ready again once init is high";
  strobe_byte('5');
  EXPECT_EQ(printer().received_text(), "135");
}

TEST_F(VpcParallelTest, ThePrinterAppendsWhatItTakesToItsFile) {
  char path[] = "/tmp/ferrox-printer-XXXXXX";
  int descriptor = mkstemp(path);
  ASSERT_NE(descriptor, -1);
  close(descriptor);
  ferrox::vpc::MachineDescription description = ferrox::vpc::default_machine();
  description.parallel_ports[0].printer.output_file = path;
  pc.reset(description);
  for (char byte : std::string("ok\n")) {
    strobe_byte(static_cast<std::uint8_t>(byte));
    let_printer_finish();
  }
  std::ifstream file(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "ok\n");
  unlink(path);
}

}  // namespace
