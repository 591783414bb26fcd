// SPDX-License-Identifier: MIT
// The virtual PC's disk on the primary ATA channel, at register level.
#include <gtest/gtest.h>

#include "tests/support/virtual_pc.h"

namespace {

constexpr std::uint16_t Data = 0x1F0, Error = 0x1F1, DriveHead = 0x1F6, Command = 0x1F7, Control = 0x3F6;
constexpr std::uint8_t Busy = 0x80, Ready = 0x40, DataRequest = 0x08, Err = 0x01;

class VpcAtaTest : public VirtualPcTest {
 protected:
  std::uint32_t in(std::uint16_t port, unsigned width = 1) { return pc.ports().read(port, width); }
  void out(std::uint16_t port, std::uint32_t value) { pc.ports().write(port, 1, value); }
};

TEST_F(VpcAtaTest, IdentifyHandsOutExactly256WordsWithTheModel) {
  out(Control, 0x02);  // nIEN
  out(DriveHead, 0xA0);
  out(Command, 0xEC);
  ASSERT_EQ(in(Command) & (Busy | Ready | DataRequest | Err), Ready | DataRequest);
  std::uint16_t words[256];
  for (std::uint16_t& word : words) word = static_cast<std::uint16_t>(in(Data, 2));
  EXPECT_EQ(in(Command) & DataRequest, 0u);
  EXPECT_EQ(in(Data, 2), 0xFFFFu) << "nothing more to read";
  EXPECT_EQ(words[0], 0x0040);
  EXPECT_EQ(words[27], ('F' << 8) | 'E');  // "FERROX VIRTUAL DISK", high byte first
  EXPECT_EQ(words[46], 0x2020) << "padded with spaces";
  EXPECT_EQ(words[60] | words[61] << 16, 16384);
  EXPECT_EQ(pc.irqs().count(14), 0u) << "nIEN keeps the line quiet";
}

TEST_F(VpcAtaTest, ACompletedCommandInterruptsUntilTheStatusIsRead) {
  out(Control, 0x00);
  out(DriveHead, 0xA0);
  out(Command, 0xEC);
  EXPECT_EQ(pc.irqs().count(14), 1u);
  in(Control);  // the alternate status leaves the interrupt pending
  out(Command, 0xEC);
  EXPECT_EQ(pc.irqs().count(14), 1u) << "the line is still high: no new edge";
  in(Command);
  out(Command, 0xEC);
  EXPECT_EQ(pc.irqs().count(14), 2u);
}

TEST_F(VpcAtaTest, UnknownCommandsAbortAndTheAbsentSlaveReadsZero) {
  out(Control, 0x02);
  out(DriveHead, 0xA0);
  out(Command, 0x00);
  EXPECT_EQ(in(Command) & (Err | DataRequest), Err);
  EXPECT_EQ(in(Error), 0x04u);
  out(DriveHead, 0xB0);
  EXPECT_EQ(in(Command), 0u);
  out(Command, 0xEC);
  out(DriveHead, 0xA0);
  EXPECT_EQ(in(Command) & DataRequest, 0u) << "the command went to the slave, which is not there";
}

TEST_F(VpcAtaTest, AMachineWithoutADiskHasNothingOnThePorts) {
  ferrox::vpc::MachineDescription machine;
  machine.ata_disk_model.reset();
  pc.reset(machine);
  EXPECT_EQ(pc.ata_disk(), nullptr);
  EXPECT_EQ(in(Command), 0xFFu);
}

}  // namespace
