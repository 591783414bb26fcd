// SPDX-License-Identifier: MIT
// A child forked from the process that started the machine holds a copy of it, not the machine
// its parent's devices are on: the child's ways into it are refused, and said, rather than served
// by a second machine that nobody else sees.
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "ferrox/component/PortIo.h"
#include "ferrox/hwtypes/DriverContract.h"
#include "tests/contract/child_process.h"
#include "tests/support/virtual_pc.h"

namespace {

constexpr std::uint32_t DataLatch = 0x378;

struct Answer {
  int result = 0;
  int error = 0;
};

template <class Call>
Answer answer_of(Call call) {
  errno = 0;
  int result = call();
  return {result, result == -1 ? errno : 0};
}

int port_out(int fd, std::uint32_t port, std::uint32_t value) {
  ferrox::TPortRecord record{port, value};
  return ioctl(fd, ferrox::Request::PortOutB, &record);
}

std::uint32_t port_in(int fd, std::uint32_t port) {
  ferrox::TPortRecord record{port, 0};
  return ioctl(fd, ferrox::Request::PortInB, &record) == 0 ? record.Value : ~0u;
}

// Standard error of the children, read once they ended.
class StandardError {
 public:
  StandardError() { EXPECT_EQ(pipe(ends_), 0); }
  ~StandardError() {
    close(ends_[0]);
    close(ends_[1]);
  }
  void take_in_child() const { dup2(ends_[1], STDERR_FILENO); }
  std::string said() {
    close(ends_[1]);
    ends_[1] = -1;
    std::string text;
    char buffer[512];
    for (ssize_t got; (got = read(ends_[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(got));
    return text;
  }

 private:
  int ends_[2] = {-1, -1};
};

class ForkTest : public VirtualPcTest {
 protected:
  void TearDown() override {
    if (fd >= 0) close(fd);
    iopl(0);
    pc.reset();
  }
  int fd = -1;
};

struct RefusedAnswers {
  Answer written, read, opened, raised, lowered, closed;
};

TEST_F(ForkTest, AChildsRequestsOpensAndPrivilegeAreRefusedAndSaid) {
  fd = open(ferrox::DriverDevicePath, O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(port_out(fd, DataLatch, 0x11), 0);
  StandardError error;
  RefusedAnswers child{};
  ASSERT_TRUE(contract::record_of_a_child(
      [&](int channel) {
        error.take_in_child();
        RefusedAnswers a;
        a.written = answer_of([&] { return port_out(fd, DataLatch, 0x5A); });
        a.read = answer_of([&] {
          ferrox::TPortRecord record{DataLatch, 0};
          return ioctl(fd, ferrox::Request::PortInB, &record);
        });
        a.opened = answer_of([] { return open(ferrox::DriverDevicePath, O_RDONLY); });
        a.raised = answer_of([] { return iopl(3); });
        a.lowered = answer_of([] { return iopl(0); });
        a.closed = answer_of([&] { return close(fd); });
        contract::report_to_parent(channel, a);
      },
      child));
  EXPECT_EQ(child.written.error, EBADF);
  EXPECT_EQ(child.read.error, EBADF);
  EXPECT_EQ(child.opened.error, ENODEV);
  EXPECT_EQ(child.raised.error, EPERM);
  EXPECT_EQ(child.lowered.result, 0) << "what a child inherited it may always give up";
  EXPECT_EQ(child.closed.result, 0);
  std::string said = error.said();
  EXPECT_NE(said.find("was forked from process " + std::to_string(getpid())), std::string::npos) << said;
  EXPECT_EQ(said.find("virtual PC"), said.rfind("virtual PC")) << "said once: " << said;

  // The parent's machine is as it left it, and still serves it.
  EXPECT_EQ(port_in(fd, DataLatch), 0x11u);
  EXPECT_EQ(port_out(fd, DataLatch, 0x22), 0);
  EXPECT_EQ(port_in(fd, DataLatch), 0x22u);
}

volatile sig_atomic_t interrupts = 0;
void count_interrupt(int, siginfo_t*, void*) { interrupts = interrupts + 1; }

// The driver signals the listener's process, which a child's raised line never reaches from the
// child's copy; it must not signal the child instead.
TEST_F(ForkTest, ALineTheParentListensOnRaisedInTheChildDoesNotInterruptTheChild) {
  struct sigaction counting {}, saved {};
  counting.sa_sigaction = count_interrupt;
  counting.sa_flags = SA_SIGINFO;
  sigemptyset(&counting.sa_mask);
  sigaction(ferrox::InterruptSignal, &counting, &saved);
  fd = open(ferrox::DriverDevicePath, O_RDONLY);
  ferrox::TIrqRequest unmask{getpid(), ferrox::InterruptSignal, 7, 1};
  ASSERT_EQ(ioctl(fd, ferrox::Request::IrqUnmask, &unmask), 0);
  int in_child = -1;
  ASSERT_TRUE(contract::record_of_a_child(
      [&](int channel) {
        interrupts = 0;
        pc.irqs().raise(7);
        contract::report_to_parent(channel, static_cast<int>(interrupts));
      },
      in_child));
  EXPECT_EQ(in_child, 0);
  interrupts = 0;
  pc.irqs().raise(7);
  EXPECT_EQ(interrupts, 1) << "the parent's own interrupts still reach it";
  sigaction(ferrox::InterruptSignal, &saved, nullptr);
}

sigjmp_buf faulted;
void leave_fault(int) { siglongjmp(faulted, 1); }

// Direct access with the privilege the child inherited would reach its copy of the latch: it
// faults instead, as a port the process does not hold.
TEST_F(ForkTest, AChildsPortInstructionsFault) {
  ASSERT_EQ(iopl(3), 0);
  ferrox::detail::OutB(DataLatch, 0x11);
  bool child_faulted = false;
  ASSERT_TRUE(contract::record_of_a_child(
      [&](int channel) {
        StandardError quiet;
        quiet.take_in_child();
        struct sigaction leave {};
        leave.sa_handler = leave_fault;
        sigemptyset(&leave.sa_mask);
        sigaction(SIGSEGV, &leave, nullptr);
        bool fault = sigsetjmp(faulted, 1) != 0;
        if (!fault) ferrox::detail::OutB(DataLatch, 0x5A);
        contract::report_to_parent(channel, fault);
      },
      child_faulted));
  EXPECT_TRUE(child_faulted);
  EXPECT_EQ(ferrox::detail::InB(DataLatch), 0x11);
}

}  // namespace
