// SPDX-License-Identifier: MIT
// Single ports through the driver and directly, and FIFO blocks.
#include <errno.h>

#include <vector>

#include "tests/support/ports_fixture.h"

using ferrox::TPortRecord;
using ferrox::vpc::Event;

namespace {

class SinglePortTest : public PortsTest {
 protected:
  void SetUp() override {
    PortsTest::SetUp();
    component->OpenDriver();
    pc.log().clear();  // parallel-port discovery is not under test here
  }
  TPortRecord last_sent() const { return pc.log().requests().back().sent_as<TPortRecord>(); }

  Component component = make_component();
};

TEST_F(SinglePortTest, DriverRequestsCarryThePortRecord) {
  component->fSetPortB(0x378, 0x80);
  EXPECT_EQ(pc.log().requests().back().sent, (std::vector<std::uint8_t>{0x78, 0x03, 0, 0, 0x80, 0, 0, 0}));
  component->fSetPortW(0x37C, 0xBEEF);
  EXPECT_EQ(last_sent().Value, 0x0000BEEFu);
  component->fSetPortL(0x37C, 0xDEADBEEF);
  EXPECT_EQ(component->fGetPortB(0x37C), 0xEF);
  EXPECT_EQ(last_sent().Value, 0u);  // a read clears what the write left in the record
  EXPECT_EQ(component->fGetPortW(0x37C), 0xBEEF);
  EXPECT_EQ(component->fGetPortL(0x37C), 0xDEADBEEFu);
  EXPECT_EQ(last_sent().Port, 0x37Cu);
  EXPECT_EQ(pc.log().request_numbers(), (std::vector<std::uint32_t>{5, 7, 9, 4, 6, 8}));
  for (const ferrox::vpc::LogEntry& entry : pc.log().requests()) EXPECT_EQ(entry.code & 0xFFFFFF00u, 0xC0086800u);
  EXPECT_EQ(logged(Event::PortIn) + logged(Event::PortOut), 0u);
}

TEST_F(SinglePortTest, AFailedReadYieldsZeroAndShadowsIt) {
  pc.faults().fail_request(4, EIO);
  pc.faults().fail_request(8, EIO);
  EXPECT_EQ(component->fGetPortB(0x379), 0);
  EXPECT_EQ(component->LPTReadShadow(1), 0);
  EXPECT_EQ(component->fGetPortL(0x379), 0u);
}

TEST_F(SinglePortTest, ClosedDriverAnswersWithFixedValuesOnEitherPath) {
  component->CloseDriver();
  for (bool hard_access : {true, false}) {
    component->fSetHardAccess(hard_access);
    EXPECT_EQ(component->fGetPortB(0x378), 0xFF);
    EXPECT_EQ(component->fGetPortW(0x378), 0xFFFF);
    EXPECT_EQ(component->fGetPortL(0x378), 0x000000FFu);
    component->fSetPortB(0x378, 1);
    component->fSetPortW(0x378, 1);
    component->fSetPortL(0x378, 1);
  }
  EXPECT_EQ(scratch.at(0x378), 0x11223341u);
  for (int index = 0; index < 3; ++index)
    EXPECT_EQ(component->LPTReadShadow(index) | component->LPTWriteShadow(index), 0);
  EXPECT_EQ(logged(Event::Request) + logged(Event::PortIn) + logged(Event::PortOut) + logged(Event::Ioperm), 0u);
}

TEST_F(SinglePortTest, ByteTransfersKeepTheParallelPortShadows) {
  EXPECT_EQ(component->fGetPortB(0x37A), 0x63);
  EXPECT_EQ(component->LPTReadShadow(2), 0x63);
  component->fSetPortB(0x378, 0x5A);
  EXPECT_EQ(component->LPTWriteShadow(0), 0x5A);
  // Outside the window, and the wide transfers, store nothing; the direct path keeps them too.
  component->fGetPortB(0x37B);
  component->fGetPortB(0x377);
  component->fGetPortW(0x378);
  component->fSetPortW(0x379, 0x1234);
  EXPECT_EQ(component->LPTReadShadow(0), 0);
  EXPECT_EQ(component->LPTWriteShadow(1), 0);
  component->fSetHardAccess(false);
  component->fSetPortB(0x379, 0xC3);
  EXPECT_EQ(component->fGetPortB(0x379), 0xC3);
  EXPECT_EQ(component->LPTReadShadow(1), 0xC3);
  EXPECT_EQ(component->LPTWriteShadow(1), 0xC3);
}

// A port whose grant is recorded takes the byte transfers' short path; it keeps the shadows as the
// first transfer on the port (which takes the grant) did: the window's edges stay outside.
TEST_F(SinglePortTest, ARecordedGrantKeepsTheShadowsAsTheFirstTransfer) {
  component->fSetHardAccess(false);
  for (ferrox::Byte pass : {1, 2}) {
    component->fSetPortB(0x377, pass);
    component->fSetPortB(0x37B, pass);
    component->fSetPortB(0x37A, static_cast<ferrox::Byte>(0x40 + pass));
    EXPECT_EQ(component->fGetPortB(0x37B), pass);
    EXPECT_EQ(component->fGetPortB(0x378), 0x41);
    EXPECT_EQ(component->LPTWriteShadow(0) | component->LPTWriteShadow(1), 0) << "pass " << int{pass};
    EXPECT_EQ(component->LPTWriteShadow(2), 0x40 + pass);
    EXPECT_EQ(component->LPTReadShadow(0), 0x41);
    EXPECT_EQ(component->LPTReadShadow(1) | component->LPTReadShadow(2), 0);
  }
  EXPECT_EQ(logged(Event::Ioperm), 4u);  // one per port, in the first pass
  EXPECT_FALSE(component->HardAccess());
}

TEST_F(SinglePortTest, DirectPathMakesNoRequestAndOneSystemCallPerPort) {
  component->fSetHardAccess(false);
  pc.log().clear();
  for (int round = 0; round < 100; ++round) component->fGetPortB(0x379);
  EXPECT_EQ(logged(Event::PortIn), 100u);
  EXPECT_EQ(logged(Event::Ioperm), 1u);
  EXPECT_EQ(logged(Event::Request), 0u);
  EXPECT_FALSE(component->HardAccess());
}

TEST_F(SinglePortTest, BothPathsReachTheSameMachine) {
  // Written through the driver, read directly, and the other way round, at every width.
  component->fSetPortL(0x37C, 0xCAFEF00D);
  component->fSetHardAccess(false);
  EXPECT_EQ(component->fGetPortL(0x37C), 0xCAFEF00Du);
  component->fSetPortW(0x37E, 0x2468);
  component->fSetPortB(0x37F, 0x99);
  component->fSetHardAccess(true);
  EXPECT_EQ(component->fGetPortW(0x37E), 0x2468);
  EXPECT_EQ(component->fGetPortB(0x37F), 0x99);
  // One FIFO: the driver's read takes the first byte, the direct read the second.
  EXPECT_EQ(component->fGetPortB(0x300), ferrox::vpc::FifoDevice::sequence(0));
  component->fSetHardAccess(false);
  EXPECT_EQ(component->fGetPortB(0x300), ferrox::vpc::FifoDevice::sequence(1));
}

TEST_F(SinglePortTest, ARefusedGrantCompletesTheTransferThroughTheDriver) {
  refuse(0, EPERM);  // the level may be raised, single ports may not be granted
  component->OpenDriver();
  component->fSetHardAccess(false);
  EXPECT_EQ(component->fGetPortW(0x378), 0xFFFF);  // the word read alone stays direct
  EXPECT_FALSE(component->HardAccess());
  EXPECT_EQ(logged(Event::Request), 0u);
  EXPECT_EQ(component->fGetPortB(0x378), 0x41);
  EXPECT_TRUE(component->HardAccess());
  EXPECT_EQ(pc.log().request_numbers(), std::vector<std::uint32_t>{4});
  // Every other transfer falls back the same way.
  component->fSetHardAccess(false);
  component->fSetPortB(0x378, 0x42);
  component->fSetHardAccess(false);
  component->fSetPortW(0x37A, 0x4243);
  component->fSetHardAccess(false);
  component->fSetPortL(0x37C, 0x44454647);
  component->fSetHardAccess(false);
  EXPECT_EQ(component->fGetPortL(0x37C), 0x44454647u);
  EXPECT_EQ(pc.log().request_numbers(), (std::vector<std::uint32_t>{4, 5, 7, 9, 8}));
  EXPECT_EQ(component->LPTWriteShadow(0), 0x42);
  EXPECT_EQ(logged(Event::PortIn) + logged(Event::PortOut), 0u);
}

class FifoTest : public PortsTest {
 protected:
  Component component = make_component();  // its driver stays closed: blocks never need it
};

TEST_F(FifoTest, ReadsEveryWidthWithOneStringInstruction) {
  using Read = void (ferrox::TFerrox32::*)(ferrox::Word, std::uint32_t, void*);
  const std::pair<Read, unsigned> reads[] = {
      {&ferrox::TFerrox32::ReadPortFIFO, 1},
      {&ferrox::TFerrox32::ReadPortWFIFO, 2},
      {&ferrox::TFerrox32::ReadPortLFIFO, 4}};
  for (auto [read, width] : reads) {
    for (std::uint32_t count : {0u, 1u, 3000u}) {
      pc.log().clear();
      pc.fifo().reset();
      std::vector<std::uint8_t> buffer(count * width + 9, 0xA5);
      (component.get()->*read)(0x300, count, buffer.data() + 1);  // no alignment is needed
      EXPECT_EQ(permissions(*component)[0x300], 1);
      for (std::uint32_t byte = 0; byte < count * width; ++byte)
        ASSERT_EQ(buffer[byte + 1], ferrox::vpc::FifoDevice::sequence(byte)) << "width " << width << " byte " << byte;
      EXPECT_EQ(buffer[0], 0xA5);
      for (std::size_t byte = count * width + 1; byte < buffer.size(); ++byte) ASSERT_EQ(buffer[byte], 0xA5);
      auto inputs = pc.log().of(Event::PortIn);
      EXPECT_EQ(inputs.size(), count ? 1u : inputs.size());  // whether an empty block traps is the processor's affair
      for (const ferrox::vpc::LogEntry& input : inputs) EXPECT_EQ(input.width * input.count, width * count);
      EXPECT_EQ(logged(Event::Request), 0u);
    }
  }
}

TEST_F(FifoTest, WritesEveryWidthInAscendingOrder) {
  using Write = void (ferrox::TFerrox32::*)(ferrox::Word, std::uint32_t, const void*);
  const std::pair<Write, unsigned> writes[] = {
      {&ferrox::TFerrox32::WritePortFIFO, 1},
      {&ferrox::TFerrox32::WritePortWFIFO, 2},
      {&ferrox::TFerrox32::WritePortLFIFO, 4}};
  for (auto [write, width] : writes) {
    for (std::uint32_t count : {0u, 1u, 3000u}) {
      pc.log().clear();
      pc.fifo().reset();
      std::vector<std::uint8_t> buffer(count * width);
      for (std::size_t byte = 0; byte < buffer.size(); ++byte) buffer[byte] = ferrox::vpc::FifoDevice::sequence(byte + 7);
      (component.get()->*write)(0x300, count, buffer.data());
      EXPECT_EQ(pc.fifo().written(), buffer) << "width " << width << " count " << count;
      for (const ferrox::vpc::LogEntry& output : pc.log().of(Event::PortOut)) EXPECT_EQ(output.width, width);
    }
  }
}

TEST_F(FifoTest, ARefusedGrantMovesNothingAndKeepsTheAccessMode) {
  refuse(0, EPERM);
  component->OpenDriver();
  pc.log().clear();
  component->fSetHardAccess(false);
  std::vector<std::uint8_t> buffer(64, 0xA5);
  component->ReadPortWFIFO(0x300, 32, buffer.data());
  component->WritePortLFIFO(0x300, 16, buffer.data());
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(64, 0xA5));
  EXPECT_TRUE(pc.fifo().written().empty());
  EXPECT_FALSE(component->HardAccess());
  EXPECT_EQ(logged(Event::Request) + logged(Event::PortIn) + logged(Event::PortOut), 0u);
}

// A null buffer with elements to move does nothing at all, not even ask for the port; with none to
// move it is an empty block like any other.
TEST_F(FifoTest, ANullBufferWithACountMovesNothingAndAsksForNothing) {
  component->ReadPortFIFO(0x300, 4, nullptr);
  component->WritePortFIFO(0x300, 4, nullptr);
  component->ReadPortWFIFO(0x300, 4, nullptr);
  component->WritePortWFIFO(0x300, 4, nullptr);
  component->ReadPortLFIFO(0x300, 4, nullptr);
  component->WritePortLFIFO(0x300, 4, nullptr);
  EXPECT_TRUE(pc.log().entries().empty());
  EXPECT_EQ(permissions(*component)[0x300], 0);
  component->ReadPortFIFO(0x300, 0, nullptr);
  EXPECT_EQ(permissions(*component)[0x300], 1);
}

// Ports from 0x400 up are opened by the raised privilege level, which opens every port: a word or
// double word at the top of the port space is no fault, and no device answers past it.
TEST_F(FifoTest, BlocksAtTheTopOfThePortSpaceReadAllOnes) {
  std::uint8_t buffer[8] = {};
  component->ReadPortWFIFO(0xFFFF, 2, buffer);
  component->ReadPortLFIFO(0xFFFD, 1, buffer + 4);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 8), std::vector<std::uint8_t>(8, 0xFF));
}

TEST_F(FifoTest, BlocksIgnoreTheAccessModeAndTheShadows) {
  component->OpenDriver();  // HardAccess True, and an open driver: still no request
  pc.log().clear();
  std::uint8_t buffer[4] = {};
  component->ReadPortFIFO(0x379, 4, buffer);
  EXPECT_EQ(buffer[3], 0x52);
  EXPECT_EQ(component->LPTReadShadow(1), 0);
  EXPECT_EQ(logged(Event::Request), 0u);
}

}  // namespace
