// SPDX-License-Identifier: MIT
// Parallel-port pins and control lines on both access paths: the bytes written, and the levels
// seen on the connector through a loopback plug.
#include <algorithm>
#include <utility>

#include "tests/support/lpt_fixture.h"

using ferrox::Byte;

namespace {

class LptPinTest : public LptPathTest {
 protected:
  void SetUp() override { open_on(ferrox::vpc::default_machine()); }

  // Sets the write shadow of a register by writing it, then starts the log afresh.
  void write_register(Byte reg, Byte value) {
    component->fSetPortB(static_cast<ferrox::Word>(0x378 + reg), value);
    pc.log().clear();
  }
};

TEST_P(LptPinTest, PinWritesStartFromTheWriteShadow) {
  using Writes = std::vector<PortAccess>;
  write_register(2, 0x05);
  component->fSetPin(1, true);
  component->fSetPin(1, false);
  EXPECT_EQ(port_writes(), (Writes{{0x37A, 0x04}, {0x37A, 0x05}}));
  write_register(0, 0x00);
  component->fSetPin(2, true);
  component->fSetPin(9, true);
  EXPECT_EQ(port_writes(), (Writes{{0x378, 0x01}, {0x378, 0x81}}));
  write_register(1, 0x00);
  component->fSetPin(12, true);
  EXPECT_EQ(port_writes(), (Writes{{0x379, 0x20}})) << "an input pin goes to the status register, which ignores it";
  write_register(2, 0x04);
  component->LPTAutofd(true);
  component->LPTAutofd(false);
  EXPECT_EQ(port_writes(), (Writes{{0x37A, 0x06}, {0x37A, 0x04}}));
  write_register(2, 0x0C);
  component->LPTSlctIn();
  EXPECT_EQ(port_writes(), (Writes{{0x37A, 0x08}, {0x37A, 0x00}}));
  EXPECT_EQ(component->LPTWriteShadow(2), 0x00);
  EXPECT_TRUE(port_reads().empty());
}

TEST_P(LptPinTest, PinsOutsideOneToSeventeenTouchNoPort) {
  for (Byte pin : {Byte{0}, Byte{18}, Byte{255}}) {
    EXPECT_FALSE(component->fGetPin(pin));
    component->fSetPin(pin, true);
  }
  EXPECT_TRUE(pc.log().entries().empty());
}

TEST_P(LptPinTest, StrobeAndInitAreOneWriteThenAThousandAndOne) {
  using Pulse = void (ferrox::TFerrox32::*)();
  const std::pair<Pulse, std::uint32_t> pulses[] = {{&ferrox::TFerrox32::LPTStrobe, 0x0D},
                                                    {&ferrox::TFerrox32::LPTInit, 0x08}};
  for (auto [operation, first] : pulses) {
    write_register(2, 0x0C);
    (component.get()->*operation)();
    std::vector<PortAccess> writes = port_writes();
    ASSERT_EQ(writes.size(), 1002u);
    EXPECT_EQ(writes[0], (PortAccess{0x37A, first}));
    EXPECT_EQ(std::count(writes.begin(), writes.end(), PortAccess{0x37A, 0x0C}), 1001);
  }
}

TEST_P(LptPinTest, ControlPinsReadTheControlRegisterWithItsInversions) {
  write_register(2, 0x0B);
  for (Byte pin : {1, 14, 16, 17}) EXPECT_FALSE(component->fGetPin(pin)) << "pin " << int(pin);
  EXPECT_EQ(port_reads().front(), (PortAccess{0x37A, 0xCB})) << "the unused bits read as ones";
  write_register(2, 0x04);
  for (Byte pin : {1, 14, 16, 17}) EXPECT_TRUE(component->fGetPin(pin)) << "pin " << int(pin);
  EXPECT_EQ(component->LPTReadShadow(2), 0xC4);
}

// Nothing is plugged into the second port: every input floats high, which reads as status 0x7F.
// Pulling all five inputs low gives 0x87, the low bits being unused and read as ones.
TEST_P(LptPinTest, StatusLinesFollowTheStatusRegister) {
  component->fSetLPTNumber(2);
  EXPECT_TRUE(component->fGetPin(11));
  EXPECT_TRUE(component->fGetLPTBusy());
  EXPECT_FALSE(component->fGetLPTAckwl());
  EXPECT_TRUE(component->fGetLPTPaperEnd());
  EXPECT_FALSE(component->fGetLPTSlct());
  EXPECT_FALSE(component->fGetLPTError());
  EXPECT_EQ(component->LPTReadShadow(1), 0x7F);

  for (unsigned pin : {10, 11, 12, 13, 15}) connector(0x278).pull_low(pin, true);
  EXPECT_FALSE(component->fGetLPTBusy());
  EXPECT_TRUE(component->fGetLPTAckwl());
  EXPECT_FALSE(component->fGetLPTPaperEnd());
  EXPECT_TRUE(component->fGetLPTSlct());
  EXPECT_TRUE(component->fGetLPTError());
  EXPECT_EQ(component->LPTReadShadow(1), 0x87);
}

TEST_P(LptPinTest, AClosedDriverAnswersWithFixedLevelsAndWritesNothing) {
  write_register(2, 0x0C);
  component->CloseDriver();
  pc.log().clear();
  EXPECT_TRUE(component->fGetLPTAckwl());
  EXPECT_FALSE(component->fGetLPTBusy());
  EXPECT_FALSE(component->fGetLPTPaperEnd());
  EXPECT_TRUE(component->fGetLPTSlct());
  EXPECT_TRUE(component->fGetLPTError());
  component->LPTStrobe();
  component->LPTAutofd(true);
  component->LPTInit();
  component->LPTSlctIn();
  EXPECT_TRUE(pc.log().entries().empty());
  EXPECT_EQ(component->LPTWriteShadow(2), 0x04) << "select-in still leaves the shadow";
}

class LoopbackTest : public LptPathTest {
 protected:
  void SetUp() override {
    open_on(with_plug(ferrox::vpc::ParallelPlug::Loopback));
    component->fSetLPTNumber(1);
  }
  // Drives an output pin and checks the level on the connector and as both pins read it.
  void expect_level(Byte output, Byte input, bool level) {
    component->fSetPin(output, level);
    EXPECT_EQ(connector().level(output), level) << "pin " << int(output);
    EXPECT_EQ(component->fGetPin(output), level) << "pin " << int(output);
    if (input) {
      EXPECT_EQ(component->fGetPin(input), level) << "pin " << int(input) << " from " << int(output);
    }
  }
};

TEST_P(LoopbackTest, EveryPinCarriesItsElectricalLevel) {
  const std::pair<Byte, Byte> wired[] = {{1, 13}, {2, 15}, {16, 10}, {17, 11}, {14, 12}};
  for (bool level : {false, true, false}) {
    for (auto [output, input] : wired) expect_level(output, input, level);
    for (Byte data = 3; data <= 9; ++data) expect_level(data, 0, level);
  }
  component->fSetPin(1, true);
  component->fSetPin(13, false);
  EXPECT_TRUE(component->fGetPin(13)) << "an input cannot be driven";
}

TEST_P(LoopbackTest, ReadModeReleasesTheDataLines) {
  for (Byte data = 2; data <= 9; ++data) component->fSetPin(data, false);
  component->fSetLPTReadMode(true);
  EXPECT_EQ(component->fGetPortB(0x378), 0xFF) << "released lines float high";
  EXPECT_TRUE(component->fGetPin(15)) << "and the error line wired to data 0 with them";
  connector().pull_low(5, true);
  EXPECT_FALSE(component->fGetPin(5));
  EXPECT_EQ(component->fGetPortB(0x378), 0xF7);
  connector().pull_low(5, false);
  component->fSetLPTReadMode(false);
  EXPECT_EQ(component->fGetPortB(0x378), 0x00);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, LptPinTest, ::testing::Bool(), access_path_name);
INSTANTIATE_TEST_SUITE_P(BothPaths, LoopbackTest, ::testing::Bool(), access_path_name);

}  // namespace
