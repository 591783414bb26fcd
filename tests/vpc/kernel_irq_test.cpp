// The virtual PC's IRQ lines and interrupt requests, seen from the driver's side of the contract.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "ferrox/hwtypes/DriverContract.h"
#include "tests/support/virtual_pc.h"

using ferrox::TIrqRequest;

namespace {

// Every signal 44 that arrives, whole.
std::vector<siginfo_t>* arrived = nullptr;

void record_signal(int, siginfo_t* info, void*) {
  if (arrived && arrived->size() < arrived->capacity()) arrived->push_back(*info);
}

class VpcIrqTest : public VirtualPcTest {
 protected:
  void SetUp() override {
    VirtualPcTest::SetUp();
    signals.reserve(64);  // the handler never allocates
    arrived = &signals;
    struct sigaction action {};
    action.sa_sigaction = record_signal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(ferrox::InterruptSignal, &action, &saved_action);
  }

  void TearDown() override {
    for (int fd : descriptors) close(fd);
    pc.reset();
    sigaction(ferrox::InterruptSignal, &saved_action, nullptr);
    arrived = nullptr;
  }

  int open_node() {
    int fd = open("/dev/ferrox", O_RDONLY);
    descriptors.push_back(fd);
    return fd;
  }

  static int unmask(int fd, unsigned line, std::uint32_t cookie, pid_t process = getpid(), int signal = 44) {
    TIrqRequest request{process, signal, line, cookie};
    return ioctl(fd, ferrox::Request::IrqUnmask, &request);
  }

  static int mask(int fd, unsigned line) {
    TIrqRequest request{getpid(), 44, line, 0};
    return ioctl(fd, ferrox::Request::IrqMask, &request);
  }

  std::vector<siginfo_t> signals;
  std::vector<int> descriptors;
  struct sigaction saved_action {};
};

TEST_F(VpcIrqTest, ARaisedLineSignalsEachListenerWithItsCookieAndTheLineAndNothingElse) {
  int first = open_node();
  int second = open_node();
  ASSERT_EQ(unmask(first, 5, 0xCAFE0001), 0);
  ASSERT_EQ(unmask(second, 5, 0xCAFE0002), 0);
  ASSERT_EQ(unmask(second, 6, 0xCAFE0003), 0);
  pc.irqs().raise(5);

  ASSERT_EQ(signals.size(), 2u);
  std::uint32_t cookies[2];
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(signals[i].si_signo, 44);
    EXPECT_EQ(signals[i].si_code, 5);
    cookies[i] = static_cast<std::uint32_t>(signals[i].si_errno);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&signals[i]);
    for (std::size_t offset = 12; offset < sizeof(siginfo_t); ++offset)
      ASSERT_EQ(bytes[offset], 0) << "siginfo byte " << offset;
  }
  EXPECT_EQ(cookies[0] + cookies[1], 0xCAFE0001u + 0xCAFE0002u);
  EXPECT_NE(cookies[0], cookies[1]);
  EXPECT_EQ(pc.irqs().count(5), 1u);
  EXPECT_EQ(pc.irqs().count(6), 0u);
  EXPECT_EQ(ioctl(first, ferrox::Request::IrqCount, 5UL), 1);
}

TEST_F(VpcIrqTest, TheDriverRefusesWhatItCannotServe) {
  int fd = open_node();
  errno = 0;
  EXPECT_EQ(unmask(fd, 16, 1), -1);
  EXPECT_EQ(errno, EINVAL);
  // Only real-time signals, which queue instead of merging: the kernel's 32..64.
  for (int signal : {0, 9, 31, 65, -44}) {
    errno = 0;
    EXPECT_EQ(unmask(fd, 3, 1, getpid(), signal), -1) << signal;
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_EQ(unmask(fd, 3, 1, getpid() + 1), -1) << "another process is not the caller's to signal";
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(mask(fd, 3), -1) << "never unmasked";
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(ioctl(fd, ferrox::Request::IrqCount, 16UL), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_TRUE(pc.irqs().listeners().empty());
}

TEST_F(VpcIrqTest, TheFirstAndLastRealTimeSignalsServe) {
  int fd = open_node();
  EXPECT_EQ(unmask(fd, 3, 1, getpid(), 32), 0);
  EXPECT_EQ(unmask(fd, 4, 1, getpid(), 64), 0);
  EXPECT_EQ(pc.irqs().listeners().size(), 2u);
}

TEST_F(VpcIrqTest, MaskingAndClosingStopTheSignals) {
  int kept = open_node();
  int closed = open_node();
  ASSERT_EQ(unmask(kept, 2, 7), 0);
  errno = 0;
  EXPECT_EQ(unmask(kept, 2, 8), -1) << "a descriptor listens to a line once";
  EXPECT_EQ(errno, EBUSY);
  ASSERT_EQ(unmask(closed, 2, 9), 0);
  close(closed);
  pc.irqs().raise(2);
  ASSERT_EQ(signals.size(), 1u);
  EXPECT_EQ(signals[0].si_errno, 7) << "the refused request changed nothing";
  EXPECT_EQ(pc.irqs().listeners().at(0).signals, 1u);

  EXPECT_EQ(mask(kept, 2), 0);
  pc.irqs().raise(2);
  EXPECT_EQ(signals.size(), 1u);
  EXPECT_EQ(pc.irqs().count(2), 2u) << "the line is counted whether or not anyone listens";
}

// The driver counts the interrupts it takes: none while nobody listens, when the line is masked.
TEST_F(VpcIrqTest, TheDriverCountsOnlyInterruptsItTook) {
  int fd = open_node();
  pc.irqs().raise(6);
  EXPECT_EQ(ioctl(fd, ferrox::Request::IrqCount, 6UL), 0);
  ASSERT_EQ(unmask(fd, 6, 1), 0);
  pc.irqs().raise(6);
  pc.irqs().raise(6);
  ASSERT_EQ(mask(fd, 6), 0);
  pc.irqs().raise(6);
  EXPECT_EQ(ioctl(fd, ferrox::Request::IrqCount, 6UL), 2);
  EXPECT_EQ(pc.irqs().count(6), 4u);
}

// A request that raises line 4 while it is served, as a device behind the driver might. It stays
// registered in the machine after the test, so it keeps nothing of the test.
constexpr std::uint32_t RaisingRequest = ferrox::MakeRequestCode('h', 99, 0);
std::size_t signals_during_request = 0;

long raise_line_4(void*, const vpc::OpenFile&, std::uintptr_t) {
  vpc::Machine::instance().irqs().raise(4);
  signals_during_request = arrived ? arrived->size() : 0;
  return 0;
}

TEST_F(VpcIrqTest, AnInterruptRaisedWhileARequestIsServedIsSignalledAfterIt) {
  int fd = open_node();
  ASSERT_EQ(unmask(fd, 4, 1), 0);
  pc.node().serve(RaisingRequest, raise_line_4, nullptr);
  EXPECT_EQ(ioctl(fd, RaisingRequest, 0UL), 0);
  EXPECT_EQ(signals_during_request, 0u);
  EXPECT_EQ(signals.size(), 1u);
}

}  // namespace
