// SPDX-License-Identifier: MIT
// The log: off until a test asks, then bounded by the capacity asked for, keeping the newest
// entries; and requests that cost no allocation while it is off.
#include <fcntl.h>
#include <malloc.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>

#include "ferrox/hwtypes/DriverContract.h"
#include "tests/support/virtual_pc.h"

namespace {

using ferrox::TPortRecord;
namespace Request = ferrox::Request;

class LogTest : public VirtualPcTest {
 protected:
  void TearDown() override {
    close(fd);
    pc.log().record(LogCapacity);
  }

  void read_ports(std::uint32_t first, std::uint32_t count) const {
    for (std::uint32_t port = first; port < first + count; ++port) {
      TPortRecord record{port, 0};
      ioctl(fd, Request::PortInB, &record);
    }
  }

  int fd = open("/dev/ferrox", O_RDONLY);
};

TEST_F(LogTest, AFullLogKeepsTheNewestEntriesAndCountsTheOthers) {
  pc.log().record(3);
  read_ports(0x80, 5);
  std::vector<ferrox::vpc::LogEntry> kept = pc.log().requests();
  ASSERT_EQ(kept.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(kept[i].sent_as<TPortRecord>().Port, 0x82u + i);
  EXPECT_EQ(pc.log().dropped(), 2u);
  pc.reset();
  read_ports(0x80, 1);
  EXPECT_EQ(pc.log().entries().size(), 1u) << "a reset empties the log and it goes on recording";
  EXPECT_EQ(pc.log().dropped(), 0u);

  pc.log().record(0);
  read_ports(0x80, 5);
  EXPECT_TRUE(pc.log().entries().empty());
}

// Memory in use by the allocator, where it can tell (a sanitizer's allocator keeps its own count).
std::size_t allocated() { return mallinfo2().uordblks; }

TEST_F(LogTest, RequestsAllocateNothingWhileTheLogIsOffAndNoMoreThanItsCapacityWhileOn) {
  auto window = std::make_unique<ferrox::TMemRec>();
  window->PhysAddr = 0xFD000000;
  window->Count = 0x10000;
  ASSERT_EQ(ioctl(fd, Request::Map, window.get()), 0);
  window->Count = 4096;
  ferrox::TPciRequest pci{0, 0, 0, 4, 0, {}};
  ferrox::TIrqRequest irq{getpid(), ferrox::InterruptSignal, 9, 1};
  auto all_kinds = [&](int rounds) {
    for (int round = 0; round < rounds; ++round) {
      read_ports(0x378, 3);
      ioctl(fd, Request::ReadWindow, window.get());
      ioctl(fd, Request::PciRead, &pci);
      ioctl(fd, Request::IrqUnmask, &irq);
      pc.irqs().raise(9);
      ioctl(fd, Request::IrqMask, &irq);
    }
  };
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction saved {};
  sigaction(ferrox::InterruptSignal, &ignore, &saved);

  pc.log().record(0);
  all_kinds(10);
  std::size_t before = allocated();
  all_kinds(1000);
  EXPECT_EQ(allocated(), before);

  pc.log().record(100);
  all_kinds(100);  // fills the log
  before = allocated();
  all_kinds(1000);
  EXPECT_EQ(allocated(), before);
  EXPECT_EQ(pc.log().entries().size(), 100u);
  sigaction(ferrox::InterruptSignal, &saved, nullptr);
}

}  // namespace
