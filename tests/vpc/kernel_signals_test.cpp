// SPDX-License-Identifier: MIT
// Signal 44 as the driver sends it: to the process, where a thread that does not block it takes
// it, or to the handler called directly, which a watcher hears of; errno after a request is what
// the program's handler left there unless the request failed; and the interval timer, which runs
// only while line 0 is listened to, on a signal of its own.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/control.h"
#include "ferrox/vpc/kernel/signal_delivery.h"
#include "tests/support/virtual_pc.h"

namespace {

using ferrox::TIrqRequest;
namespace Request = ferrox::Request;

std::atomic<pid_t> handled_on{0};
std::atomic<int> handled{0};
constexpr int ErrnoOfTheHandler = 4321;

void record_thread(int, siginfo_t*, void*) {
  handled_on = gettid();
  ++handled;
  errno = ErrnoOfTheHandler;
}

void sleep_for_ms(long milliseconds) {
  timespec left{milliseconds / 1000, (milliseconds % 1000) * 1'000'000};
  while (nanosleep(&left, &left) == -1 && errno == EINTR) {
  }
}

double seconds_now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

class SignalTest : public VirtualPcTest {
 protected:
  void SetUp() override {
    VirtualPcTest::SetUp();
    handled_on = 0;
    handled = 0;
    struct sigaction action {};
    action.sa_sigaction = record_thread;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(ferrox::InterruptSignal, &action, &saved_action);
    fd = open("/dev/ferrox", O_RDONLY);
  }

  void TearDown() override {
    close(fd);
    pc.reset();
    sigaction(ferrox::InterruptSignal, &saved_action, nullptr);
  }

  int unmask(unsigned line) const {
    TIrqRequest request{getpid(), ferrox::InterruptSignal, line, 1};
    return ioctl(fd, Request::IrqUnmask, &request);
  }
  int mask(unsigned line) const {
    TIrqRequest request{getpid(), ferrox::InterruptSignal, line, 1};
    return ioctl(fd, Request::IrqMask, &request);
  }
  int write_port(std::uint32_t port, std::uint32_t value) const {
    ferrox::TPortRecord record{port, value};
    return ioctl(fd, Request::PortOutB, &record);
  }

  int fd = -1;
  struct sigaction saved_action {};
};

// A thread that blocks signal 44, as programs block signals in their workers, makes the request;
// the interrupt is taken by the thread that does not block it.
TEST_F(SignalTest, AThreadThatBlocksTheSignalLeavesItToOneThatDoesNot) {
  if (!ferrox::vpc::kernel_delivers_signals()) GTEST_SKIP() << "handlers are invoked directly here, on the calling thread";
  ASSERT_EQ(unmask(5), 0);
  std::atomic<pid_t> taker{0};
  std::atomic<bool> done{false};
  std::thread waiting([&] {
    taker = gettid();
    for (int round = 0; round < 2000 && !handled; ++round) sleep_for_ms(1);
    done = true;
  });
  while (!taker) sleep_for_ms(1);
  sigset_t only, saved;
  sigemptyset(&only);
  sigaddset(&only, ferrox::InterruptSignal);
  pthread_sigmask(SIG_BLOCK, &only, &saved);
  pc.irqs().raise(5);
  waiting.join();
  EXPECT_EQ(handled.load(), 1);
  EXPECT_EQ(handled_on.load(), taker.load());
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  EXPECT_EQ(handled.load(), 1) << "nothing was left pending on the blocking thread";
}

// The same from a thread other than the first, which may not queue to the process itself.
TEST_F(SignalTest, ASecondThreadThatBlocksTheSignalLeavesItToTheFirst) {
  if (!ferrox::vpc::kernel_delivers_signals()) GTEST_SKIP() << "handlers are invoked directly here, on the calling thread";
  ASSERT_EQ(unmask(6), 0);
  std::thread raising([this] {
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, ferrox::InterruptSignal);
    pthread_sigmask(SIG_BLOCK, &only, nullptr);
    pc.irqs().raise(6);
  });
  for (int round = 0; round < 2000 && !handled; ++round) sleep_for_ms(1);
  raising.join();
  EXPECT_EQ(handled.load(), 1);
  EXPECT_EQ(handled_on.load(), getpid());
}

sigset_t only_the_interrupt_signal() {
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, ferrox::InterruptSignal);
  return only;
}

// Ten interrupts raised by a worker that blocks signal 44, while the first thread takes it and
// blocks every other signal, as a program's main thread may: each reaches the first thread.
TEST_F(SignalTest, AWorkersInterruptsReachAThreadThatBlocksEveryOtherSignal) {
  if (!ferrox::vpc::kernel_delivers_signals()) GTEST_SKIP() << "handlers are invoked directly here, on the calling thread";
  ASSERT_EQ(unmask(6), 0);
  sigset_t all_but_it, saved;
  sigfillset(&all_but_it);
  sigdelset(&all_but_it, ferrox::InterruptSignal);
  pthread_sigmask(SIG_BLOCK, &all_but_it, &saved);
  std::thread raising([this] {
    sigset_t only = only_the_interrupt_signal();
    pthread_sigmask(SIG_BLOCK, &only, nullptr);
    for (int i = 0; i < 10; ++i) pc.irqs().raise(6);
  });
  raising.join();
  for (int round = 0; round < 2000 && handled < 10; ++round) sleep_for_ms(1);
  int while_blocking_the_rest = handled;
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  EXPECT_EQ(while_blocking_the_rest, 10);
  EXPECT_EQ(handled_on.load(), getpid());
}

// Where every thread blocks it, the signal waits on the process, where sigtimedwait finds it with
// the driver's fields, whichever thread raised it.
TEST_F(SignalTest, ASignalEveryThreadBlocksWaitsOnTheProcessForSigtimedwait) {
  if (!ferrox::vpc::kernel_delivers_signals()) GTEST_SKIP() << "handlers are invoked directly here, on the calling thread";
  ASSERT_EQ(unmask(6), 0);
  sigset_t only = only_the_interrupt_signal(), saved;
  pthread_sigmask(SIG_BLOCK, &only, &saved);
  std::thread raising([this] {
    for (int i = 0; i < 10; ++i) pc.irqs().raise(6);
  });
  int waited = 0;
  for (siginfo_t info; waited < 10; ++waited) {
    timespec limit{2, 0};
    if (sigtimedwait(&only, &info, &limit) != ferrox::InterruptSignal) break;
    EXPECT_EQ(info.si_code, 6);
    EXPECT_EQ(info.si_errno, 1);
  }
  raising.join();
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  EXPECT_EQ(waited, 10);
  EXPECT_EQ(handled.load(), 0);
}

// Where the virtual PC calls the handler itself, a tracer whose own handler is then passed over
// hears of each signal from the watcher, before the handler runs.
std::atomic<int> watched{0}, watched_before_handled{-1};
void watch_signal(int signal, int code, int error) {
  if (signal == ferrox::InterruptSignal && code == 3 && error == 1) watched_before_handled = handled.load();
  ++watched;
}

TEST_F(SignalTest, AWatcherHearsOfEachSignalHandedToTheHandlerDirectly) {
  if (ferrox::vpc::kernel_delivers_signals()) GTEST_SKIP() << "the kernel delivers signals here, to the handler it holds";
  vpc_watch_signals(watch_signal);
  ASSERT_EQ(unmask(3), 0);
  pc.irqs().raise(3);
  vpc_watch_signals(nullptr);
  EXPECT_EQ(handled.load(), 1);
  EXPECT_EQ(watched.load(), 1);
  EXPECT_EQ(watched_before_handled.load(), 0);
}

// The ATA disk interrupts when a command finishes: the port write that gives the command raises
// line 14 while the driver serves it.
TEST_F(SignalTest, ErrnoIsWhatTheHandlerLeftAfterARequestThatSucceeds) {
  constexpr std::uint32_t AtaCommand = 0x1F7, IdentifyDevice = 0xEC;
  ASSERT_EQ(unmask(14), 0);
  errno = 0;
  ASSERT_EQ(write_port(AtaCommand, IdentifyDevice), 0);
  EXPECT_EQ(handled.load(), 1);
  EXPECT_EQ(errno, ErrnoOfTheHandler);
  errno = 0;
  EXPECT_EQ(write_port(0x10000, 0), -1);
  EXPECT_EQ(errno, EINVAL) << "a failed request sets errno after the handlers ran";
}

TEST_F(SignalTest, TheIntervalTimerTicksOnlyWhileLineZeroIsListenedTo) {
  ASSERT_EQ(unmask(0), 0);
  sleep_for_ms(150);
  EXPECT_EQ(pc.irqs().count(0), 0u) << "the default machine has no timer";

  ferrox::vpc::MachineDescription with_timer = ferrox::vpc::default_machine();
  with_timer.timer = true;
  pc.reset(with_timer);
  sleep_for_ms(150);
  EXPECT_EQ(pc.irqs().count(0), 0u) << "nobody listens to line 0";
  double listening_since = seconds_now();
  ASSERT_EQ(unmask(0), 0);
  sleep_for_ms(300);  // five ticks at 18.2 Hz, more where the host is busy and the sleep overruns
  std::uint32_t ticked = pc.irqs().count(0);
  EXPECT_GE(ticked, 3u);
  EXPECT_LE(ticked, (seconds_now() - listening_since) * 18.2 + 2);
  ASSERT_EQ(mask(0), 0);
  sleep_for_ms(150);
  EXPECT_EQ(pc.irqs().count(0), ticked) << "the timer stopped with the last listener";
}

// The timer belongs to the machine, not to the thread whose listening started it: its ticks go on
// after that thread ended.
TEST_F(SignalTest, TheIntervalTimerTicksOnAfterTheThreadThatStartedItEnded) {
  ferrox::vpc::MachineDescription with_timer = ferrox::vpc::default_machine();
  with_timer.timer = true;
  pc.reset(with_timer);
  std::thread starting([this] { ASSERT_EQ(unmask(0), 0); });
  starting.join();
  std::uint32_t before = pc.irqs().count(0);
  sleep_for_ms(300);
  EXPECT_GE(pc.irqs().count(0) - before, 3u);
  EXPECT_GE(handled.load(), 3);
}

std::atomic<int> own_handler_calls{0};
void own_handler(int) { ++own_handler_calls; }

// The timer takes a real-time signal nobody handles; the program's handlers stay as installed.
TEST_F(SignalTest, TheIntervalTimerReplacesNoHandlerOfTheProgram) {
  struct sigaction own {}, before[2] {};
  own.sa_handler = own_handler;
  sigemptyset(&own.sa_mask);
  const int taken[] = {SIGRTMAX, SIGRTMIN + 12};
  for (int i = 0; i < 2; ++i) sigaction(taken[i], &own, &before[i]);
  ferrox::vpc::MachineDescription with_timer = ferrox::vpc::default_machine();
  with_timer.timer = true;
  pc.reset(with_timer);
  ASSERT_EQ(unmask(0), 0);
  sleep_for_ms(200);
  EXPECT_GE(pc.irqs().count(0), 2u);
  EXPECT_EQ(own_handler_calls.load(), 0);
  for (int i = 0; i < 2; ++i) {
    struct sigaction now {};
    sigaction(taken[i], nullptr, &now);
    EXPECT_EQ(now.sa_handler, own_handler) << taken[i];
    sigaction(taken[i], &before[i], nullptr);
  }
}

}  // namespace
