// SPDX-License-Identifier: MIT
// The virtual PC's IRQ lines and interrupt requests, seen from the driver's side of the contract.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

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

  static int unmask(int fd, unsigned line, std::uint32_t cookie) {
    TIrqRequest request{getpid(), ferrox::InterruptSignal, line, cookie};
    return ioctl(fd, ferrox::Request::IrqUnmask, &request);
  }

  std::vector<siginfo_t> signals;
  std::vector<int> descriptors;
  struct sigaction saved_action {};
};

// A request that raises line 4 while it is served, as a device behind the driver might. It stays
// registered in the machine after the test, so it keeps nothing of the test.
constexpr std::uint32_t RaisingRequest = ferrox::MakeRequestCode('h', 99, 0);
std::size_t signals_during_request = 0;

long raise_line_4(void*, const ferrox::vpc::OpenFile&, std::uintptr_t) {
  ferrox::vpc::Machine::instance().irqs().raise(4);
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
