// SPDX-License-Identifier: MIT
// Parallel ports: discovery in the BIOS data area when the driver opens, selection of a port and
// its interrupt-enable and read-mode bits.
#include <errno.h>

#include "tests/support/lpt_fixture.h"

using ferrox::TMemRec;

namespace {

class LptDiscoveryTest : public LptTest {
 protected:
  // Opens on a machine without clearing the log, so what discovery sends can be seen.
  void open_logged(const ferrox::vpc::MachineDescription& description) {
    pc.reset(description);
    component->OpenDriver();
  }
};

TEST_F(LptDiscoveryTest, FilledSlotsAreNumberedInOrderThroughOneSixByteWindow) {
  open_logged(with_bios_ports(0x378, 0, 0x278));
  EXPECT_EQ(component->LPTCount(), 2);
  EXPECT_EQ(component->LPTAddress(1), 0x378);
  EXPECT_EQ(component->LPTAddress(2), 0x278);
  EXPECT_EQ(component->LPTBase(), 0x378);
  EXPECT_EQ(component->LPTNumber(), 1);
  EXPECT_EQ(pc.log().request_numbers(), (std::vector<std::uint32_t>{2, 14, 14, 14, 3}));
  auto requests = pc.log().requests();
  EXPECT_EQ(requests[0].sent_as<TMemRec>().PhysAddr, 0x408u);
  EXPECT_EQ(requests[0].sent_as<TMemRec>().Count, 6u);
  for (std::uint32_t slot = 0; slot < 3; ++slot) {
    auto read = requests[1 + slot].sent_as<TMemRec>();
    EXPECT_EQ(read.PhysAddr + read.Offset, 0x408 + 2 * slot);
  }
  EXPECT_FALSE(component->Mapped());
  EXPECT_TRUE(port_reads().empty() && port_writes().empty()) << "discovery touches no port";

  component->CloseDriver();
  open_logged(with_bios_ports(0, 0x3BC, 0));
  EXPECT_EQ(component->LPTCount(), 1);
  EXPECT_EQ(component->LPTAddress(1), 0x3BC);
  EXPECT_EQ(component->LPTBase(), 0x3BC);
}

TEST_F(LptDiscoveryTest, WithNoPortEverySelectionIsIgnored) {
  component->fSetLPTNumber(2);  // before opening, as when a form is loaded
  open_logged(with_bios_ports(0, 0, 0));
  EXPECT_EQ(component->LPTCount(), 0);
  EXPECT_EQ(component->LPTBase(), 0x378);
  pc.log().clear();
  for (ferrox::Byte number : {0, 1, 2, 3, 255}) component->fSetLPTNumber(number);
  EXPECT_EQ(component->LPTNumber(), 1);
  EXPECT_TRUE(pc.log().entries().empty());
}

TEST_F(LptDiscoveryTest, NothingIsDiscoveredWithoutTheDriverOrAWindow) {
  ferrox::vpc::MachineDescription machine = with_bios_ports(0x378, 0x278, 0x3BC);
  pc.reset(machine);
  pc.faults().refuse_open(ENOENT);
  component->OpenDriver();
  EXPECT_EQ(component->LPTCount(), 0);
  EXPECT_EQ(component->LPTBase(), 0x378);
  EXPECT_EQ(component->LPTNumber(), 1);
  EXPECT_TRUE(pc.log().requests().empty());

  pc.reset(machine);
  pc.faults().refuse_map();
  component->OpenDriver();
  EXPECT_TRUE(component->DriverActive());
  EXPECT_EQ(component->LPTCount(), 0);
}

TEST_F(LptDiscoveryTest, ReopeningDiscoversAfreshAndSelectsPortOne) {
  open_logged(ferrox::vpc::default_machine());
  component->fSetLPTNumber(2);
  component->fSetLPTIrq(true);
  component->fSetLPTReadMode(true);
  component->CloseDriver();
  EXPECT_EQ(component->LPTNumber(), 2) << "closing changes nothing of the parallel port";
  component->fSetLPTIrq(false);
  EXPECT_TRUE(component->LPTIrq()) << "nor does a mode set while closed";

  component->OpenDriver();
  EXPECT_EQ(component->LPTNumber(), 1);
  EXPECT_EQ(component->LPTBase(), 0x378);
  EXPECT_FALSE(component->LPTIrq());
  EXPECT_FALSE(component->LPTReadMode());

  // A machine without ports: the modes keep their values, and the old second address is unused.
  component->fSetLPTIrq(true);
  component->CloseDriver();
  pc.reset(with_bios_ports(0, 0, 0));
  component->OpenDriver();
  EXPECT_TRUE(component->LPTIrq());
  component->fSetLPTNumber(2);
  EXPECT_EQ(component->LPTBase(), 0x378);
}

// A BIOS word of 0xFFFF is a port like any other: its data register is 0xFFFF and the status and
// control registers wrap round to ports 0 and 1.
TEST_F(LptDiscoveryTest, APortAt0xFFFFKeepsItsShadowsWithoutWrapping) {
  open_on(with_bios_ports(0xFFFF, 0, 0));
  EXPECT_EQ(component->LPTBase(), 0xFFFF);
  component->fSetPortB(0xFFFF, 0x5A);
  component->fSetPortB(0x0000, 0x33);
  EXPECT_EQ(component->LPTWriteShadow(0), 0x5A);
  EXPECT_EQ(component->LPTWriteShadow(1), 0) << "port 0 is not base + 1 for the byte accessor";
  component->fSetPin(12, true);
  EXPECT_EQ(port_writes().back(), (PortAccess{0x0000, 0x20}));
  EXPECT_EQ(component->LPTWriteShadow(1), 0x20) << "the pin's own register, at the wrapped address";
}

TEST_F(LptDiscoveryTest, APortAt0xFFFFKeepsItsShadowsWithoutWrappingOnTheDirectPath) {
  open_on(with_bios_ports(0xFFFF, 0, 0));
  component->fSetHardAccess(false);
  for (ferrox::Byte value : {0x5A, 0xA5}) {  // the second with the grants recorded
    component->fSetPortB(0xFFFF, value);
    component->fSetPortB(0x0000, 0x33);
    EXPECT_EQ(component->LPTWriteShadow(0), value);
    EXPECT_EQ(component->LPTWriteShadow(1), 0) << "port 0 is not base + 1 for the byte accessor";
  }
  EXPECT_FALSE(component->HardAccess());
}

// Registers whose every read yields the next number, to tell the two passes apart.
class CountingRegisters final : public ferrox::vpc::PortDevice {
 public:
  std::uint32_t read(std::uint16_t, unsigned) override { return ++reads_; }
  void write(std::uint16_t, unsigned, std::uint32_t) override {}

 private:
  std::uint32_t reads_ = 0x0A;
};

TEST_F(LptTest, SelectionReadsTheRegistersTwiceAndKeepsTheSecondPass) {
  open_on(ferrox::vpc::default_machine());
  CountingRegisters registers;
  pc.ports().attach(0x278, 3, registers);
  component->fSetLPTNumber(2);
  EXPECT_EQ(component->LPTBase(), 0x278);
  EXPECT_EQ(component->LPTNumber(), 2);
  std::vector<PortAccess> reads = port_reads();
  ASSERT_EQ(reads.size(), 6u);
  for (std::uint32_t i = 0; i < 6; ++i) EXPECT_EQ(reads[i], (PortAccess{0x278 + i % 3, 0x0B + i}));
  for (int reg = 0; reg < 3; ++reg) {
    EXPECT_EQ(component->LPTWriteShadow(reg), 0x0E + reg);
    EXPECT_EQ(component->LPTReadShadow(reg), 0x0E + reg);
  }
  EXPECT_TRUE(component->LPTIrq()) << "from the control byte read last (0x10), not the first (0x0D)";

  pc.log().clear();
  component->fSetLPTNumber(0);
  component->fSetLPTNumber(3);
  EXPECT_EQ(component->LPTNumber(), 2);
  EXPECT_TRUE(pc.log().entries().empty());
}

class LptModeTest : public LptPathTest {};

TEST_P(LptModeTest, ModeBitsChangeOnlyTheirBitOfTheWriteShadow) {
  open_on(ferrox::vpc::default_machine());
  component->fSetPortB(0x37A, 0x0C);
  pc.log().clear();
  component->fSetLPTIrq(true);
  component->fSetLPTIrq(false);
  component->fSetLPTReadMode(true);
  EXPECT_EQ(port_writes(), (std::vector<PortAccess>{{0x37A, 0x1C}, {0x37A, 0x0C}, {0x37A, 0x2C}}));
  EXPECT_FALSE(component->LPTIrq());
  EXPECT_TRUE(component->LPTReadMode());
  EXPECT_EQ(component->LPTWriteShadow(2), 0x2C);
  EXPECT_TRUE(port_reads().empty()) << "the shadow, never a fresh read";
}

INSTANTIATE_TEST_SUITE_P(BothPaths, LptModeTest, ::testing::Bool(), access_path_name);

}  // namespace
