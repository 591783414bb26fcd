// SPDX-License-Identifier: MIT
// The driver's windows of physical memory, as a program sees them through the device node.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>

#include "ferrox/hwtypes/DriverContract.h"
#include "tests/support/virtual_pc.h"

namespace {

using ferrox::Request::ReadWindow;

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

// The request log holds what a transfer copied out: the record's head and the bytes moved. What a
// driver refuses is in the contract's scenarios (tests/contract), shared with the kernel driver.
TEST_F(WindowTest, TheLogHoldsTheHeadAndTheBytesATransferMoved) {
  std::uint32_t linear = map(fd_a, 0x400, 16);
  EXPECT_EQ(transfer(fd_a, ReadWindow, 0x400, linear, 14, 2), 0);
  EXPECT_EQ(pc.log().requests().back().returned.size(), 16u + 2);
}

}  // namespace
