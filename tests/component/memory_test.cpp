// SPDX-License-Identifier: MIT
// The component's physical memory: its window, single values and blocks, as the driver sees them.
#include <errno.h>
#include <gmock/gmock.h>

#include <memory>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "tests/support/component.h"
#include "tests/support/virtual_pc.h"

using ferrox::TFerrox32;
using testing::Each;
using testing::ElementsAre;

namespace {

constexpr std::uint32_t Map = 2, Unmap = 3, Read = 14, Write = 15;
// Memory that windows may cover and that keeps what is written: the default machine's VGA frame
// buffer (System RAM is the kernel's, and no window covers it).
constexpr std::uint32_t DeviceMemory = 0xFD000000;

struct Head {
  std::uint32_t PhysAddr, Offset, LinearAddr, Count;
};

class MemoryTest : public VirtualPcTest {
 protected:
  // A component with its driver open, and a log that starts after the open.
  Component open_component() {
    Component component = make_component();
    component->OpenDriver();
    pc.log().clear();
    return component;
  }

  std::vector<std::uint32_t> requests() const { return pc.log().request_numbers(); }

  // One field of the record heads of the requests of one number, as sent.
  std::vector<std::uint32_t> sent(std::uint32_t number, std::uint32_t Head::*field) const {
    std::vector<std::uint32_t> values;
    for (const ferrox::vpc::LogEntry& entry : pc.log().requests())
      if (entry.number() == number) values.push_back(entry.sent_as<Head>().*field);
    return values;
  }

  Component component = open_component();
};

TEST_F(MemoryTest, WindowIsReusedForSmallerSizesAndReplacedOtherwise) {
  component->fUnmapMemory();  // nothing mapped: nothing sent
  std::uint32_t linear = component->fMapPhysToLinear(0x408, 6);
  EXPECT_NE(linear, 0u);
  EXPECT_EQ(component->fMapPhysToLinear(0x408, 4), linear);
  EXPECT_EQ(component->MappedSize(), 6u);
  component->fMapPhysToLinear(0x408, 256);
  EXPECT_EQ(component->MappedSize(), 256u);
  component->fMapPhysToLinear(0x500, 16);
  component->fUnmapMemory();
  component->fUnmapMemory();
  EXPECT_THAT(requests(), ElementsAre(Map, Unmap, Map, Unmap, Map, Unmap));
  EXPECT_THAT(sent(Map, &Head::PhysAddr), ElementsAre(0x408, 0x408, 0x500));
  EXPECT_EQ(sent(Unmap, &Head::PhysAddr)[0], linear);  // its record is the linear address alone
  EXPECT_FALSE(component->Mapped());
  EXPECT_EQ(component->MappedPhys(), 0x500u);
  EXPECT_EQ(pc.windows().live_windows(), 0u);

  // The driver checks the window a write names: it goes out with none mapped, a read does not.
  ferrox::TMemRec record{};
  component->fReadMappedMemory(&record);
  component->fWriteMappedMemory(&record);
  EXPECT_EQ(requests().back(), Write);
  EXPECT_EQ(pc.log().requests().back().error, EINVAL);
}

TEST_F(MemoryTest, RefusedMapsAndTransfers) {
  pc.faults().refuse_map(ferrox::vpc::Times::Once);
  EXPECT_EQ(component->fMapPhysToLinear(0x408, 6), 0u);
  EXPECT_FALSE(component->Mapped());
  EXPECT_EQ(component->MappedSize(), 6u);
  EXPECT_NE(component->fMapPhysToLinear(0x408, 6), 0u);  // tried again

  // A map that fails without an answer: the record still holds the last window's address.
  pc.faults().fail_request(Map, EIO, ferrox::vpc::Times::Once);
  EXPECT_EQ(component->fMapPhysToLinear(0x500, 6), 0u);
  EXPECT_FALSE(component->Mapped());

  pc.log().clear();
  pc.faults().refuse_map();
  std::uint8_t buffer[4] = {1, 2, 3, 4};
  EXPECT_EQ(component->fGetMemW(0x400, 0), 0u);
  component->fSetMemW(0x400, 0, 1);
  component->ReadPhysicalMemory(0x400, 0, 4, buffer);
  component->WritePhysicalMemory(0x400, 0, 4, buffer);
  EXPECT_THAT(requests(), ElementsAre(Map, Map, Map, Map));

  // A refused read hands back no stale bytes of an earlier transfer.
  pc.faults().clear();
  EXPECT_EQ(component->fGetMemW(0x400, 0), 0x3F8u);
  pc.faults().fail_request(Read, EIO);
  EXPECT_EQ(component->fGetMemW(0x400, 0), 0u);
  component->ReadPhysicalMemory(0x400, 0, 4, buffer);
  EXPECT_THAT(buffer, ElementsAre(1, 2, 3, 4));
  // The first piece of a large block refused: the block ends there.
  pc.faults().fail_request(Read, EIO, ferrox::vpc::Times::Once);
  std::vector<std::uint8_t> block(0x20000, 0xAB);
  component->ReadPhysicalMemory(DeviceMemory, 0, 0x20000, block.data());
  EXPECT_THAT(block, Each(0xAB));
}

// As with a closed driver: nothing is mapped or sent. A null buffer with no bytes is an empty block.
TEST_F(MemoryTest, ANullBufferWithBytesToMoveSendsNothing) {
  component->ReadPhysicalMemory(DeviceMemory, 0, 16, nullptr);
  component->WritePhysicalMemory(DeviceMemory, 0, 16, nullptr);
  EXPECT_TRUE(pc.log().entries().empty());
  EXPECT_FALSE(component->Mapped());
  component->ReadPhysicalMemory(DeviceMemory, 0, 0, nullptr);
  EXPECT_THAT(requests(), ElementsAre(Map, Read));
}

TEST_F(MemoryTest, ClosedDriverAnswers255AndSendsNothing) {
  component->CloseDriver();
  pc.log().clear();
  EXPECT_EQ(component->fMapPhysToLinear(0x408, 6), 0u);
  EXPECT_EQ(component->fGetMemB(0x400, 0), 0xFFu);
  EXPECT_EQ(component->fGetMemW(0x400, 0), 0x00FFu);
  EXPECT_EQ(component->fGetMemL(0x400, 0), 0x000000FFu);
  component->fSetMemL(0x400, 0, 0);
  std::uint8_t buffer[4] = {1, 2, 3, 4};
  component->ReadPhysicalMemory(0x400, 0, 4, buffer);
  component->WritePhysicalMemory(0x400, 0, 4, buffer);
  EXPECT_THAT(buffer, ElementsAre(1, 2, 3, 4));
  EXPECT_TRUE(pc.log().entries().empty());
}

TEST_F(MemoryTest, BiosTableReadThroughTheCallersWindow) {
  component->fMapPhysToLinear(0x408, 6);
  pc.log().clear();
  EXPECT_EQ(component->fGetMemW(0x408, 0), 0x378u);
  EXPECT_EQ(component->fGetMemW(0x408, 1), 0x278u);
  EXPECT_EQ(component->fGetMemW(0x408, 2), 0u);
  EXPECT_THAT(requests(), ElementsAre(Read, Read, Read));
  EXPECT_THAT(sent(Read, &Head::Offset), ElementsAre(0, 2, 4));
  EXPECT_THAT(sent(Read, &Head::Count), Each(2));
}

TEST_F(MemoryTest, ValuesAreLittleEndianAndMapA256ByteWindowOnDemand) {
  component->fGetMemB(0x400, 0);
  component->fSetMemL(DeviceMemory, 3, 0x11223344);
  EXPECT_EQ(pc.memory().read8(DeviceMemory + 12), 0x44u);
  EXPECT_EQ(component->fGetMemW(DeviceMemory, 7), 0x1122u);
  component->fSetMemW(DeviceMemory, 1, 0xBEEF);
  component->fSetMemB(DeviceMemory, 0, 0x5A);
  EXPECT_EQ(component->fGetMemL(DeviceMemory, 0), 0xBEEF005Au);
  EXPECT_THAT(requests(), ElementsAre(Map, Read, Unmap, Map, Write, Read, Write, Write, Read));
  EXPECT_THAT(sent(Map, &Head::Count), ElementsAre(256, 256));
  EXPECT_THAT(sent(Write, &Head::Count), ElementsAre(4, 2, 1));  // the transfer count survives the map
  EXPECT_THAT(sent(Write, &Head::Offset), ElementsAre(12, 2, 0));
  EXPECT_EQ(pc.log().requests()[4].sent[16], 0x44);  // Data[0]
}

TEST_F(MemoryTest, ElementPastTheMappedWindowMapsOneThatCoversIt) {
  component->fMapPhysToLinear(DeviceMemory, 4096);
  component->fGetMemL(DeviceMemory, 1000);  // inside: no map
  component->fGetMemW(DeviceMemory, 5000);  // bytes 10000..10001
  EXPECT_THAT(requests(), ElementsAre(Map, Read, Unmap, Map, Read));
  EXPECT_THAT(sent(Map, &Head::Count), ElementsAre(4096, 10002));
  for (const ferrox::vpc::LogEntry& entry : pc.log().requests()) EXPECT_EQ(entry.error, 0);
  // No window reaches past 4 GiB: nothing is sent.
  pc.log().clear();
  EXPECT_EQ(component->fGetMemL(DeviceMemory, 0x40000000), 0u);
  EXPECT_TRUE(requests().empty());
}

TEST_F(MemoryTest, BlockWindowSizes) {
  const std::pair<std::uint32_t, std::uint32_t> blocks[] = {{0, 16}, {100, 300}, {0, 255}, {0, 256}, {0, 0}};
  std::vector<std::uint8_t> buffer(400);
  for (auto [offset, count] : blocks) {
    component->fUnmapMemory();
    component->ReadPhysicalMemory(DeviceMemory, offset, count, buffer.data());
  }
  EXPECT_THAT(sent(Map, &Head::Count), ElementsAre(256, 401, 256, 257, 256));
  EXPECT_THAT(sent(Read, &Head::Count), ElementsAre(16, 300, 255, 256, 0));
}

TEST_F(MemoryTest, BlockReusesACoveringWindowAndReplacesAShortOne) {
  std::uint8_t buffer[1000];
  component->fGetMemB(DeviceMemory, 0);                           // 256 bytes
  component->ReadPhysicalMemory(DeviceMemory, 16, 200, buffer);  // inside
  component->ReadPhysicalMemory(DeviceMemory, 0, 1000, buffer);  // reaches past it
  component->ReadPhysicalMemory(DeviceMemory + 0x1000, 0, 16, buffer);  // another address
  EXPECT_THAT(requests(), ElementsAre(Map, Read, Read, Unmap, Map, Read, Unmap, Map, Read));
  EXPECT_THAT(sent(Map, &Head::Count), ElementsAre(256, 1001, 256));
}

TEST_F(MemoryTest, MegabyteBlockMovesInPiecesThroughOneWindow) {
  constexpr std::uint32_t Size = 1 << 20;
  std::vector<std::uint8_t> pattern(Size), back(Size, 0);
  for (std::uint32_t i = 0; i < Size; ++i) pattern[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  component->WritePhysicalMemory(DeviceMemory, 3, Size, pattern.data());
  component->ReadPhysicalMemory(DeviceMemory, 3, Size, back.data());
  EXPECT_EQ(back, pattern);
  EXPECT_EQ(pc.memory().read8(DeviceMemory + 4), pattern[1]);
  EXPECT_THAT(sent(Map, &Head::Count), ElementsAre(Size + 4));
  EXPECT_THAT(sent(Write, &Head::Count), Each(65536));
  EXPECT_EQ(sent(Write, &Head::Offset)[1], 3u + 65536);
  EXPECT_EQ(sent(Read, &Head::Count).size(), 16u);
}

// Offset + count + 1 wraps in 32 bits: the window would be too small for the block.
TEST_F(MemoryTest, BlockPastTheLargestWindowIsNotTransferred) {
  std::uint8_t buffer[4] = {1, 2, 3, 4};
  component->ReadPhysicalMemory(0, 0xFFFFFFFE, 1, buffer);
  component->WritePhysicalMemory(0, 0xFFFFFF00, 0x100, buffer);
  EXPECT_THAT(buffer, ElementsAre(1, 2, 3, 4));
  EXPECT_TRUE(requests().empty());
}

TEST_F(MemoryTest, ComponentsMoveBytesThroughTheirOwnWindows) {
  Component other = open_component();
  pc.memory().write16(DeviceMemory, 0x1111);
  pc.memory().write16(DeviceMemory + 0x10000, 0x2222);
  EXPECT_EQ(component->fGetMemW(DeviceMemory, 0), 0x1111u);
  EXPECT_EQ(other->fGetMemW(DeviceMemory + 0x10000, 0), 0x2222u);
  EXPECT_EQ(component->fGetMemW(DeviceMemory, 0), 0x1111u);
  component->fSetMemW(DeviceMemory, 1, 0x3333);
  EXPECT_EQ(pc.memory().read16(DeviceMemory + 2), 0x3333u);
}

TEST_F(MemoryTest, ClosingAndDestructionUnmapWhileTheDescriptorIsOpen) {
  Component other = open_component();
  component->fMapPhysToLinear(0x408, 6);
  other->fMapPhysToLinear(0x408, 6);
  component->CloseDriver();
  other.reset();
  auto entries = pc.log().entries();
  ASSERT_EQ(entries.size(), 6u);
  for (std::size_t closing : {3, 5}) {
    EXPECT_EQ(entries[closing - 1].number(), Unmap);
    EXPECT_EQ(entries[closing - 1].error, 0);
    EXPECT_EQ(entries[closing].event, ferrox::vpc::Event::Close);
  }
  EXPECT_FALSE(component->Mapped());
  EXPECT_EQ(pc.windows().live_windows(), 0u);
}

}  // namespace
