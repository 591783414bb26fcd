// SPDX-License-Identifier: MIT
// The device node's descriptors behave as a real driver's: kept across exec unless asked
// otherwise, copied and closed by every call that copies or closes descriptors, and a record the
// program cannot reach answered with EFAULT rather than a crash.
#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "ferrox/hwtypes/DriverContract.h"
#include "tests/support/virtual_pc.h"

namespace {

using ferrox::TIrqRequest;
using ferrox::TMemRec;
using ferrox::TPortRecord;
namespace Request = ferrox::Request;

// The default machine's frame buffer: device memory any window may cover.
constexpr std::uint32_t FrameBuffer = 0xFD000000;
constexpr long PageSize = 4096;

class DescriptorTest : public VirtualPcTest {
 protected:
  void TearDown() override {
    for (int fd : opened)
      if (fcntl(fd, F_GETFD) != -1) close(fd);
    pc.reset();
  }

  int open_node(int flags = 0) {
    int fd = open("/dev/ferrox", O_RDONLY | flags);
    opened.push_back(fd);
    return fd;
  }

  static std::uint32_t map_window(int fd, std::uint32_t phys, std::uint32_t size) {
    TMemRec& record = *new TMemRec{};
    record.PhysAddr = phys;
    record.Count = size;
    ioctl(fd, Request::Map, &record);
    std::uint32_t linear = record.LinearAddr;
    delete &record;
    return linear;
  }

  static int unmask(int fd, unsigned line) {
    TIrqRequest request{getpid(), ferrox::InterruptSignal, line, 1};
    return ioctl(fd, Request::IrqUnmask, &request);
  }

  static int read_port(int fd, std::uint32_t port) {
    TPortRecord record{port, 0};
    return ioctl(fd, Request::PortInB, &record) == 0 ? static_cast<int>(record.Value) : -errno;
  }

  std::vector<int> opened;
};

TEST_F(DescriptorTest, CloseOnExecOnlyWhenAskedFor) {
  int plain = open_node();
  int asked = open_node(O_CLOEXEC);
  EXPECT_EQ(fcntl(plain, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(fcntl(asked, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

// Every copy names the same file, which keeps its windows and listeners until the last copy goes.
TEST_F(DescriptorTest, CopiesServeTheSameFileUntilTheLastOneCloses) {
  int fd = open_node();
  ASSERT_NE(map_window(fd, FrameBuffer, 4096), 0u);
  ASSERT_EQ(unmask(fd, 3), 0);
  int copies[] = {dup(fd), fcntl(fd, F_DUPFD, 300), fcntl(fd, F_DUPFD_CLOEXEC, 310), dup2(fd, 320), dup3(fd, 330, O_CLOEXEC)};
  ASSERT_EQ(close(fd), 0);
  for (int copy : copies) {
    ASSERT_GE(copy, 0);
    opened.push_back(copy);
    EXPECT_EQ(read_port(copy, 0x80), 0xFF) << copy;
  }
  EXPECT_EQ(pc.windows().live_windows(), 1u);
  EXPECT_EQ(pc.irqs().listeners().size(), 1u);
  for (int copy : copies) close(copy);
  EXPECT_EQ(pc.windows().live_windows(), 0u);
  EXPECT_TRUE(pc.irqs().listeners().empty());
  EXPECT_EQ(pc.node().open_files(), 0u);
}

// dup2 over a descriptor of the node closes that one (the file goes with its last descriptor) and
// makes the number name what was copied, which then answers for itself.
TEST_F(DescriptorTest, ADescriptorCopiedOverANodeDescriptorIsNoLongerTheNodes) {
  int fd = open_node();
  ASSERT_EQ(unmask(fd, 4), 0);
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  ASSERT_EQ(write(pipe_ends[1], "abc", 3), 3);
  ASSERT_EQ(dup2(pipe_ends[0], fd), fd);
  int waiting = -1;
  EXPECT_EQ(ioctl(fd, FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 3);
  EXPECT_TRUE(pc.irqs().listeners().empty());
  EXPECT_EQ(pc.node().open_files(), 0u);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
}

TEST_F(DescriptorTest, CloseRangeAndClosefromReleaseWhatTheyClose) {
  int first = open_node();
  ASSERT_EQ(unmask(first, 5), 0);
  int moved = open_node();
  int high = dup2(moved, 900);
  opened.push_back(high);
  close(moved);
  ASSERT_NE(map_window(high, FrameBuffer, 4096), 0u);

  ASSERT_EQ(close_range(static_cast<unsigned>(first), static_cast<unsigned>(first), 0), 0);
  EXPECT_TRUE(pc.irqs().listeners().empty());
  EXPECT_EQ(read_port(first, 0x80), -EBADF);

  ASSERT_EQ(close_range(900, 900, CLOSE_RANGE_CLOEXEC), 0);  // marks, closes nothing
  EXPECT_EQ(fcntl(high, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(pc.windows().live_windows(), 1u);
  closefrom(900);
  EXPECT_EQ(pc.windows().live_windows(), 0u);
  EXPECT_EQ(read_port(high, 0x80), -EBADF);
}

// Pages the program may not read, or not write.
class Unreachable {
 public:
  Unreachable() {
    void* pages = mmap(nullptr, 3 * PageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = static_cast<std::uint8_t*>(pages);
    mprotect(base_ + PageSize, PageSize, PROT_READ);
    mprotect(base_ + 2 * PageSize, PageSize, PROT_NONE);
  }
  ~Unreachable() { munmap(base_, 3 * PageSize); }

  std::uint8_t* read_only() const { return base_ + PageSize; }  // just past the writable page
  std::uint8_t* none() const { return base_ + 2 * PageSize; }
  // Puts bytes into the read-only page, as its owner could before it was made read-only.
  void fill_read_only(std::size_t offset, const void* bytes, std::size_t size) {
    mprotect(read_only(), PageSize, PROT_READ | PROT_WRITE);
    std::memcpy(read_only() + offset, bytes, size);
    mprotect(read_only(), PageSize, PROT_READ);
  }

 private:
  std::uint8_t* base_;
};

int request(int fd, std::uint32_t code, const void* record) {
  errno = 0;
  return ioctl(fd, code, record) == -1 ? -errno : 0;
}

TEST_F(DescriptorTest, RecordsOutOfReachAnswerEfaultAndChangeNothing) {
  int fd = open_node();
  Unreachable pages;
  EXPECT_EQ(request(fd, Request::PortInB, pages.none()), -EFAULT);
  EXPECT_EQ(request(fd, Request::PortOutB, pages.none()), -EFAULT);
  EXPECT_EQ(request(fd, Request::PortOutB, pages.read_only()), 0) << "a write only reads its record";
  EXPECT_EQ(request(fd, Request::PortInB, pages.read_only()), -EFAULT) << "the value read cannot be left";
  EXPECT_EQ(request(fd, Request::PciRead, pages.none()), -EFAULT);
  EXPECT_EQ(request(fd, Request::IrqUnmask, pages.none()), -EFAULT);
  EXPECT_TRUE(pc.irqs().listeners().empty());

  // A map whose LinearAddr cannot be written leaves no window behind.
  auto* head = reinterpret_cast<std::uint32_t*>(pages.read_only() - 8);  // PhysAddr, Offset writable
  head[0] = FrameBuffer;
  const std::uint32_t linear_and_count[] = {0, 4096};
  pages.fill_read_only(0, linear_and_count, sizeof linear_and_count);
  EXPECT_EQ(request(fd, Request::Map, head), -EFAULT);
  EXPECT_EQ(pc.windows().live_windows(), 0u);

  // Transfers whose Data runs into a page out of reach: a read fails, a write writes nothing.
  std::uint32_t linear = map_window(fd, FrameBuffer, 0x2000);
  ASSERT_NE(linear, 0u);
  auto* record = reinterpret_cast<TMemRec*>(pages.read_only() - ferrox::MemRecHeadSize - 8);
  record->PhysAddr = FrameBuffer;
  record->LinearAddr = linear;
  record->Offset = 0;
  record->Count = 16;
  EXPECT_EQ(request(fd, Request::ReadWindow, record), -EFAULT);
  record = reinterpret_cast<TMemRec*>(pages.none() - ferrox::MemRecHeadSize - 8 - PageSize);
  std::memset(record->Data, 0x5A, 8);
  record->PhysAddr = FrameBuffer;
  record->LinearAddr = linear;
  record->Count = PageSize + 16;  // past the read-only page into the one out of reach
  EXPECT_EQ(request(fd, Request::WriteWindow, record), -EFAULT);
  EXPECT_EQ(pc.memory().read8(FrameBuffer), 0) << "not a byte of the write reached the window";
}

}  // namespace
