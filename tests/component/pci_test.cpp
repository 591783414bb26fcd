// SPDX-License-Identifier: MIT
// PCI configuration access: the records that cross to the driver, and what the virtual PC's
// functions answer through it and through configuration mechanism #1.
#include <errno.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "ferrox/component/Ferrox32.h"
#include "tests/support/virtual_pc.h"

using ferrox::TPciCfg;
using ferrox::TPciRequest;

namespace {

std::uint32_t dword_at(const void* bytes, unsigned offset) {
  std::uint32_t value;
  std::memcpy(&value, static_cast<const std::uint8_t*>(bytes) + offset, sizeof value);
  return value;
}

class PciTest : public VirtualPcTest {
 protected:
  void SetUp() override {
    VirtualPcTest::SetUp();
    component = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
    component->OpenDriver();
    ASSERT_TRUE(component->DriverActive());
    pc.log().clear();
  }
  void TearDown() override { component->Free(); }

  const ferrox::vpc::LogEntry& last_request() {
    requests = pc.log().requests();
    EXPECT_FALSE(requests.empty());
    return requests.back();
  }
  TPciRequest last_sent() { return last_request().sent_as<TPciRequest>(); }

  // Mechanism #1 through the component's own port methods, on whichever path HardAccess picks.
  void select(unsigned device, unsigned reg) { component->fSetPortL(0xCF8, 0x80000000u | device << 11 | reg); }
  std::uint32_t port_read(unsigned device, unsigned reg) {
    select(device, reg);
    return component->fGetPortL(0xCFC);
  }

  ferrox::TFerrox32* component = nullptr;
  std::vector<ferrox::vpc::LogEntry> requests;
};

TEST_F(PciTest, DevFnKeepsFiveDeviceBitsAndThreeFunctionBits) {
  component->PciGetByte(0, 31, 7, 0);
  EXPECT_EQ(last_sent().DevFn, 0xFF);
  // Device 33 function 9 is device 1 function 1: the IDE function.
  EXPECT_EQ(component->PciGetWord(0, 33, 9, 2), 0x7010);
  EXPECT_EQ(last_sent().DevFn, 0x09);
}

TEST_F(PciTest, ReadsSendBusDevFnRegisterAndWidth) {
  EXPECT_EQ(component->PciGetByte(0, 1, 1, 0x09), 0x80);
  EXPECT_EQ(component->PciGetWord(0, 3, 0, 0x00), 0x8086);
  EXPECT_EQ(component->PciGetDword(0, 2, 0, 0x08), 0x03000002u);
  requests = pc.log().requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::uint16_t expected[3][4] = {{0, 0x09, 0x09, 1}, {0, 0x18, 0x00, 2}, {0, 0x10, 0x08, 4}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(requests[i].code, ferrox::Request::PciRead);
    EXPECT_EQ(requests[i].sent.size(), 64u);
    auto sent = requests[i].sent_as<TPciRequest>();
    EXPECT_EQ(sent.Bus, expected[i][0]);
    EXPECT_EQ(sent.DevFn, expected[i][1]);
    EXPECT_EQ(sent.Reg, expected[i][2]);
    EXPECT_EQ(sent.Count, expected[i][3]);
  }
}

TEST_F(PciTest, WritesSendTheValueZeroExtended) {
  component->PciSetByte(0, 3, 0, 0x3C, 0xAB);
  auto sent = last_sent();
  EXPECT_EQ(last_request().code, ferrox::Request::PciWrite);
  EXPECT_EQ(sent.DevFn, 0x18);
  EXPECT_EQ(sent.Reg, 0x3C);
  EXPECT_EQ(sent.Count, 1);
  EXPECT_EQ(sent.Value, 0xABu);
  component->PciSetWord(0, 3, 0, 0x04, 0x1234);
  EXPECT_EQ(last_sent().Count, 2);
  EXPECT_EQ(last_sent().Value, 0x1234u);
  component->PciSetDword(0, 3, 0, 0x10, 0xFEBC0000);
  EXPECT_EQ(last_sent().Count, 4);
  EXPECT_EQ(last_sent().Value, 0xFEBC0000u);
  // A read leaves the value field as the last write left it.
  component->PciGetByte(0, 0, 0, 0);
  EXPECT_EQ(last_sent().Value, 0xFEBC0000u);
}

TEST_F(PciTest, ClosedDriverSendsNothingAndLeavesTheRecord) {
  component->CloseDriver();
  pc.log().clear();
  TPciCfg cfg;
  std::memset(&cfg, 0x5A, sizeof cfg);
  EXPECT_FALSE(component->PciDeviceInfo(0, 0, 0, cfg));
  for (std::uint8_t byte : std::span(reinterpret_cast<std::uint8_t*>(&cfg), sizeof cfg)) ASSERT_EQ(byte, 0x5A);
  EXPECT_EQ(component->PciGetByte(0, 0, 0, 0), 0);
  EXPECT_EQ(component->PciGetWord(0, 0, 0, 0), 0);
  EXPECT_EQ(component->PciGetDword(0, 0, 0, 0), 0u);
  component->PciSetByte(0, 3, 0, 0x3C, 1);
  component->PciSetWord(0, 3, 0, 0x04, 0);
  component->PciSetDword(0, 3, 0, 0x10, 0);
  EXPECT_TRUE(pc.log().entries().empty());
  component->OpenDriver();
  EXPECT_EQ(component->PciGetByte(0, 3, 0, 0x3C), 0x0B);  // the writes never arrived
}

TEST_F(PciTest, FailedRequestsReadAllOnesAndFetchNoHeader) {
  pc.faults().fail_request(16, EIO);
  EXPECT_EQ(component->PciGetByte(0, 0, 0, 0), 0xFF);
  EXPECT_EQ(component->PciGetWord(0, 0, 0, 0), 0xFFFF);
  EXPECT_EQ(component->PciGetDword(0, 0, 0, 0), 0xFFFFFFFFu);
  TPciCfg cfg{};
  EXPECT_FALSE(component->PciDeviceInfo(0, 0, 0, cfg));
}

TEST_F(PciTest, HeaderFetchIsTheFunctionsFirst64Bytes) {
  for (const ferrox::vpc::PciFunctionImage& image : pc.description().pci_functions) {
    const ferrox::vpc::PciLocation& at = image.location;
    TPciCfg cfg;
    std::memset(&cfg, 0, sizeof cfg);
    ASSERT_TRUE(component->PciDeviceInfo(at.bus, at.device, at.function, cfg));
    auto sent = last_sent();
    EXPECT_EQ(sent.DevFn, at.devfn());
    EXPECT_EQ(sent.Reg, 0);
    EXPECT_EQ(sent.Count, 64);
    EXPECT_EQ(std::memcmp(&cfg, image.config.data(), sizeof cfg), 0);
    for (unsigned reg = 0; reg < 64; reg += 4)
      EXPECT_EQ(component->PciGetDword(at.bus, at.device, at.function, reg), dword_at(&cfg, reg));
  }
  TPciCfg absent;
  std::memset(&absent, 0x5A, sizeof absent);
  EXPECT_FALSE(component->PciDeviceInfo(0, 7, 0, absent));
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&absent);
  EXPECT_EQ(std::count(bytes + 8, bytes + sizeof absent, 0x5A), 56) << "the driver fills nothing past the head";
  // An absent function answers all ones, which a 32-bit process's C library takes for error 1.
  EXPECT_EQ(component->PciGetDword(0, 7, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(last_request().error, sizeof(long) == 8 ? 0 : EPERM);
  EXPECT_EQ(component->PciGetByte(0, 7, 0, 0), 0xFF);
  EXPECT_EQ(last_request().error, 0);
}

TEST_F(PciTest, ReadOnlyBitsDoNotStick) {
  component->PciSetDword(0, 3, 0, 0x00, 0x12345678);  // identity
  component->PciSetDword(0, 3, 0, 0x08, 0x00000000);  // revision and class
  component->PciSetWord(0, 3, 0, 0x04, 0xFFFF);       // command: only the implemented bits
  component->PciSetByte(0, 3, 0, 0x3C, 0x05);         // interrupt line: firmware-writable
  EXPECT_EQ(component->PciGetDword(0, 3, 0, 0x00), 0x100E8086u);
  EXPECT_EQ(component->PciGetDword(0, 3, 0, 0x08), 0x02000003u);
  EXPECT_EQ(component->PciGetWord(0, 3, 0, 0x04), 0x0547);
  EXPECT_EQ(component->PciGetByte(0, 3, 0, 0x3C), 0x05);
}

TEST_F(PciTest, StatusErrorBitsClearWhenOneIsWritten) {
  ferrox::vpc::MachineDescription machine;
  machine.pci_functions[0].config[7] |= 0x60;  // received master abort, signalled system error
  pc.reset(machine);
  EXPECT_EQ(component->PciGetWord(0, 0, 0, 0x06), 0x6280);
  component->PciSetWord(0, 0, 0, 0x06, 0x0000);
  EXPECT_EQ(component->PciGetWord(0, 0, 0, 0x06), 0x6280);
  component->PciSetWord(0, 0, 0, 0x06, 0x2280);  // also writes the read-only capability bits
  EXPECT_EQ(component->PciGetWord(0, 0, 0, 0x06), 0x4280);
}

TEST_F(PciTest, BaseAddressRegistersAnswerTheSizeProbe) {
  // VGA frame buffer: 16 MiB of prefetchable memory.
  component->PciSetDword(0, 2, 0, 0x10, 0xFFFFFFFF);
  EXPECT_EQ(component->PciGetDword(0, 2, 0, 0x10), 0xFF000008u);
  component->PciSetDword(0, 2, 0, 0x10, 0xE0000000);
  EXPECT_EQ(component->PciGetDword(0, 2, 0, 0x10), 0xE0000008u);
  // Ethernet I/O block of 64 ports: the mask 0xFFFFFFC1. A 64-bit process receives it; for a
  // 32-bit process it lies in the C library's error range (errno 0x3F) and reads as all ones.
  // Word reads carry it either way.
  component->PciSetDword(0, 3, 0, 0x14, 0xFFFFFFFF);
  if constexpr (sizeof(long) == 8) {
    EXPECT_EQ(component->PciGetDword(0, 3, 0, 0x14), 0xFFFFFFC1u);
    EXPECT_EQ(last_request().error, 0);
  } else {
    EXPECT_EQ(component->PciGetDword(0, 3, 0, 0x14), 0xFFFFFFFFu);
    EXPECT_EQ(last_request().error, 0x3F);
  }
  EXPECT_EQ(component->PciGetWord(0, 3, 0, 0x14), 0xFFC1);
  EXPECT_EQ(component->PciGetWord(0, 3, 0, 0x16), 0xFFFF);
  // Expansion ROM: 256 KiB, with its enable bit.
  component->PciSetDword(0, 3, 0, 0x30, 0xFFFFFFFF);
  EXPECT_EQ(component->PciGetDword(0, 3, 0, 0x30), 0xFFFC0001u);
  // A function without regions keeps its registers at 0.
  component->PciSetDword(0, 0, 0, 0x10, 0xFFFFFFFF);
  EXPECT_EQ(component->PciGetDword(0, 0, 0, 0x10), 0u);
}

TEST_F(PciTest, RegistersAndBusesReachTheDriverUnchangedAndAreRefusedThere) {
  EXPECT_EQ(component->PciGetByte(0, 0, 0, 0x1001), 0xFF);
  EXPECT_EQ(last_sent().Reg, 0x1001);
  EXPECT_EQ(last_request().error, EINVAL);
  EXPECT_EQ(component->PciGetDword(0, 0, 0, 0x0E), 0xFFFFFFFFu);  // not dword aligned
  EXPECT_EQ(last_sent().Reg, 0x0E);
  EXPECT_EQ(last_request().error, EINVAL);
  EXPECT_EQ(component->PciGetWord(0x100, 0, 0, 0x00), 0xFFFF);
  EXPECT_EQ(last_sent().Bus, 0x100);
  EXPECT_EQ(last_request().error, EINVAL);
}

TEST_F(PciTest, MechanismOneSeesWhatTheDriverSeesOnBothPortPaths) {
  for (bool hard_access : {true, false}) {
    component->fSetHardAccess(hard_access);
    ASSERT_EQ(component->HardAccess(), hard_access);
    for (unsigned device : {0u, 1u, 2u, 3u, 9u})
      for (unsigned reg : {0x00u, 0x08u, 0x10u, 0x3Cu})
        EXPECT_EQ(port_read(device, reg), component->PciGetDword(0, device, 0, reg)) << device << ":" << reg;
    component->PciSetByte(0, 3, 0, 0x0D, hard_access ? 0x40 : 0x20);  // latency timer, through the driver
    EXPECT_EQ(port_read(3, 0x0C), hard_access ? 0x00004000u : 0x00002000u);
    select(3, 0x3C);
    component->fSetPortB(0xCFC, hard_access ? 0x0A : 0x0B);
    EXPECT_EQ(component->PciGetByte(0, 3, 0, 0x3C), hard_access ? 0x0A : 0x0B);
  }
  // The direct path really ran port instructions; PCI itself never left the driver.
  EXPECT_FALSE(pc.log().of(ferrox::vpc::Event::PortIn).empty());
  for (const ferrox::vpc::LogEntry& request : pc.log().requests()) {
    std::uint32_t number = request.number();
    EXPECT_TRUE(number == 16 || number == 17 || (number >= 4 && number <= 9)) << number;
  }
}

TEST_F(PciTest, ConfigurationAccessIgnoresHardAccess) {
  component->fSetHardAccess(false);
  ASSERT_FALSE(component->HardAccess());
  pc.log().clear();
  EXPECT_EQ(component->PciGetWord(0, 0, 0, 0), 0x8086);
  component->PciSetByte(0, 3, 0, 0x3C, 0x0B);
  TPciCfg header{};
  EXPECT_TRUE(component->PciDeviceInfo(0, 0, 0, header));
  EXPECT_EQ(pc.log().request_numbers(), (std::vector<std::uint32_t>{16, 17, 16}));
  EXPECT_TRUE(pc.log().of(ferrox::vpc::Event::PortIn).empty());
  EXPECT_TRUE(pc.log().of(ferrox::vpc::Event::PortOut).empty());
}

}  // namespace
