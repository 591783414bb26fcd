// The virtual PC's physical memory and the driver's windows, as a program sees them through
// the device node.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>

#include "ferrox/hwtypes/DriverContract.h"
#include "tests/support/virtual_pc.h"

namespace {

// The default machine's VGA frame buffer: 16 MiB of device memory, which windows may cover.
constexpr std::uint32_t FrameBuffer = 0xFD000000;

class VpcMemoryTest : public VirtualPcTest {
 protected:
  void TearDown() override {
    close(fd_a);
    close(fd_b);
  }

  // Maps through descriptor fd; returns LinearAddr.
  std::uint32_t map(int fd, std::uint32_t phys, std::uint32_t size) {
    record->PhysAddr = phys;
    record->Count = size;
    record->LinearAddr = 0xDEAD;
    ioctl(fd, ferrox::Request::Map, record.get());
    return record->LinearAddr;
  }

  int fd_a = open("/dev/ferrox", O_RDONLY);
  int fd_b = open("/dev/ferrox", O_RDONLY);
  std::unique_ptr<ferrox::TMemRec> record = std::make_unique<ferrox::TMemRec>();
};

TEST_F(VpcMemoryTest, DefaultMachineMemoryMap) {
  vpc::PhysicalMemory& memory = pc.memory();
  const std::uint16_t bios_words[] = {0x3F8, 0x2F8, 0, 0, 0x378, 0x278, 0};
  for (std::uint32_t i = 0; i < 7; ++i) EXPECT_EQ(memory.read16(0x400 + 2 * i), bios_words[i]) << i;
  EXPECT_EQ(memory.read32(0xFFFF1), 0xF000E05Bu);  // the BIOS ROM's reset jump target
  EXPECT_EQ(memory.read32(0xB8000), 0xFFFFFFFFu);  // nothing there

  std::size_t resident = memory.resident_pages();
  const std::uint8_t bytes[] = {1, 2, 3, 4};
  memory.write(0xFFFF1, bytes);   // ROM
  memory.write(0x7FFFFE, bytes);  // the last two bytes of RAM and two past it
  EXPECT_EQ(memory.read32(0xFFFF1), 0xF000E05Bu);
  EXPECT_EQ(memory.read32(0x7FFFFE), 0xFFFF0201u);
  EXPECT_EQ(memory.read32(0x500000), 0u);  // unwritten RAM costs no page
  EXPECT_EQ(memory.resident_pages(), resident + 1);

  vpc::MachineDescription description;
  description.memory = {{{0, 0x1000}}, {}, {}};
  description.bios.lpt = {0x3BC, 0, 0};
  pc.reset(description);
  EXPECT_EQ(memory.read16(0x408), 0x3BCu);
  EXPECT_EQ(memory.read8(0x1000), 0xFFu);
  EXPECT_EQ(memory.read8(0xFFFF1), 0xFFu);
}

// Linear addresses are handed out from one space, distinct across descriptors, each keeping the
// window's offset within its page; a descriptor's windows go with it.
TEST_F(VpcMemoryTest, MapHandsOutDistinctAddresses) {
  std::uint32_t first = map(fd_a, 0x400, 256);
  std::uint32_t second = map(fd_b, FrameBuffer + 0x12345, 0x300000);
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, first);
  EXPECT_EQ(first % 4096, 0x400u);
  EXPECT_EQ(second % 4096, 0x345u);
  close(fd_a);
  fd_a = -1;
  EXPECT_EQ(pc.windows().live_windows(), 1u);
}

}  // namespace
