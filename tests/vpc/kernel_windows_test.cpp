// The driver's windows of physical memory, as a program sees them through the device node.
#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>

#include "ferrox/hwtypes/DriverContract.h"
#include "tests/support/virtual_pc.h"

namespace {

using ferrox::Request::ReadWindow;
using ferrox::Request::WriteWindow;

// The default machine's VGA frame buffer: 16 MiB of device memory, which windows may cover.
constexpr std::uint32_t FrameBuffer = 0xFD000000;

class WindowTest : public VirtualPcTest {
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

  // A transfer names its window by the window's PhysAddr and LinearAddr.
  int transfer(int fd, std::uint32_t code, std::uint32_t phys, std::uint32_t linear, std::uint32_t offset,
               std::uint32_t count) {
    record->PhysAddr = phys;
    record->LinearAddr = linear;
    record->Offset = offset;
    record->Count = count;
    return ioctl(fd, code, record.get());
  }

  int fd_a = open("/dev/ferrox", O_RDONLY);
  int fd_b = open("/dev/ferrox", O_RDONLY);
  std::unique_ptr<ferrox::TMemRec> record = std::make_unique<ferrox::TMemRec>();
};

TEST_F(WindowTest, MapHandsOutDistinctAddressesOrZero) {
  std::uint32_t first = map(fd_a, 0x400, 256);
  std::uint32_t second = map(fd_b, FrameBuffer + 0x12345, 0x300000);
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, first);
  EXPECT_EQ(second % 4096, 0x345u);
  EXPECT_EQ(map(fd_a, 0x400, 0), 0u);
  EXPECT_EQ(map(fd_a, 0xFFFFFF00, 0x101), 0u);
  EXPECT_NE(map(fd_a, 0xFFFFFF00, 0x100), 0u);  // the very top still maps
  // Unmapped by their own descriptor only, and released with it.
  EXPECT_EQ(ioctl(fd_b, ferrox::Request::Unmap, &first), -1);
  EXPECT_EQ(ioctl(fd_a, ferrox::Request::Unmap, &first), 0);
  EXPECT_EQ(ioctl(fd_a, ferrox::Request::Unmap, &first), -1);
  close(fd_a);
  fd_a = -1;
  EXPECT_EQ(pc.windows().live_windows(), 1u);
}

TEST_F(WindowTest, TransfersStayInsideAWindowOfTheirDescriptor) {
  std::uint32_t linear = map(fd_a, 0x400, 16);
  record->Data[0] = 0x77;
  const std::tuple<int, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t> refused[] = {
      {fd_a, 0x400, linear, 15, 2},          // runs past the window
      {fd_a, 0x400, linear, 0xFFFFFFFF, 2},  // offset + count wraps
      {fd_a, 0x400, linear + 1, 0, 1},       // not a window's address
      {fd_a, 0x401, linear, 0, 1},           // not the window's physical address
      {fd_b, 0x400, linear, 0, 1},           // another descriptor's window
  };
  for (auto [fd, phys, address, offset, count] : refused) {
    for (std::uint32_t code : {ReadWindow, WriteWindow}) {
      errno = 0;
      EXPECT_EQ(transfer(fd, code, phys, address, offset, count), -1);
      EXPECT_EQ(errno, EINVAL);
      EXPECT_EQ(record->Data[0], 0x77);
    }
  }
  EXPECT_EQ(pc.memory().read16(0x40F), 0u);  // nothing written past the window either

  std::uint32_t large = map(fd_a, FrameBuffer, 0x20000);
  EXPECT_EQ(transfer(fd_a, ReadWindow, FrameBuffer, large, 0, 65537), -1);
  EXPECT_EQ(transfer(fd_a, ReadWindow, FrameBuffer, large, 0x10000, 65536), 0);
  EXPECT_EQ(transfer(fd_a, ReadWindow, 0x400, linear, 14, 2), 0);
  EXPECT_EQ(pc.log().requests().back().returned.size(), 16u + 2);  // the head and the bytes moved
}

// Windows cover no System RAM, none is larger than 256 MiB, and a descriptor holds 64 of them; a
// refused map answers LinearAddr 0.
TEST_F(WindowTest, MapRefusesSystemRamOversizedWindowsAndTheSixtyFifth) {
  const std::pair<std::uint32_t, std::uint32_t> system_ram[] = {
      {0x1000, 16}, {0xFF0, 0x20}, {0x9F000, 0x2000}, {0xFFF00, 0x101}, {0x7FFFFF, 1}};
  for (auto [phys, size] : system_ram) {
    errno = 0;
    EXPECT_EQ(map(fd_a, phys, size), 0u) << std::hex << phys;
    EXPECT_EQ(errno, EPERM);
  }
  EXPECT_NE(map(fd_a, 0, 0x1000), 0u) << "the firmware's page";
  EXPECT_NE(map(fd_a, 0xA0000, 0x60000), 0u) << "video memory and ROMs";
  EXPECT_NE(map(fd_a, 0x800000, 0x1000), 0u) << "above the RAM";

  errno = 0;
  EXPECT_EQ(map(fd_b, FrameBuffer, (256 << 20) + 1), 0u);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_NE(map(fd_b, 0xE0000000, 256 << 20), 0u);

  for (int i = 3; i < 64; ++i) ASSERT_NE(map(fd_a, FrameBuffer, 16), 0u) << i;
  errno = 0;
  EXPECT_EQ(map(fd_a, FrameBuffer, 16), 0u);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_NE(map(fd_b, FrameBuffer, 16), 0u) << "the bound is per descriptor";
}

}  // namespace
