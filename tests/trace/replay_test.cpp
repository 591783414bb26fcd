// SPDX-License-Identifier: MIT
// Replay on the virtual PC, in process: answers from the recording rather than the machine, the
// first call that differs reported with its index, signals after their call with this run's
// cookie, polls repeated or left out where polling is loose, what the program left unmade, and the
// port instructions it executes itself.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>

#include "tests/support/virtual_pc.h"
#include "tests/trace/recording_events.h"

namespace {

using namespace recording_events;
using ferrox::TPortRecord;
namespace Request = ferrox::Request;

class ReplayTest : public VirtualPcTest {
 protected:
  void Replay(const std::vector<ferrox::recording::Event>& events, ferrox::vpc::ReplayOptions options = {}) {
    pc.replay().start(recording_of(events), options, ferrox::vpc::OnDivergence::Keep);
  }
  void TearDown() override { pc.replay().stop(); }

  // A port request as the library makes it: the value read, or -errno.
  long Port(int fd, std::uint32_t code, std::uint32_t port, std::uint32_t value = 0) {
    TPortRecord record{port, value};
    if (ioctl(fd, code, &record) != 0) return -errno;
    return record.Value;
  }
};

TEST_F(ReplayTest, AnswersComeFromTheRecordingAndTheMachineIsNotTouched) {
  Replay({open_event(0), port_event(1, Request::PortInB, 0x379, 0, 0x5A), port_event(2, Request::PortOutB, 0x378, 0x41, 0x41),
          port_event(3, Request::PortOutB, 0x37A, 0x0D, 0x0D), port_event(4, Request::PortOutB, 0x37A, 0x0C, 0x0C),
          close_event(5)});
  int fd = open("/dev/ferrox", O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Port(fd, Request::PortInB, 0x379), 0x5A);  // the machine's printer would say 0xDF
  EXPECT_EQ(Port(fd, Request::PortOutB, 0x378, 0x41), 0x41);
  EXPECT_EQ(Port(fd, Request::PortOutB, 0x37A, 0x0D), 0x0D);
  EXPECT_EQ(Port(fd, Request::PortOutB, 0x37A, 0x0C), 0x0C);
  EXPECT_EQ(close(fd), 0);
  EXPECT_EQ(pc.parallel_ports().printer(0x378)->received_text(), "");
  EXPECT_FALSE(pc.replay().divergence());
  EXPECT_FALSE(pc.replay().unfinished());
}

TEST_F(ReplayTest, TheFirstCallThatDiffersIsReportedAndEveryCallAfterItFails) {
  Replay({open_event(0), port_event(1, Request::PortOutB, 0x378, 0x41, 0x41), port_event(2, Request::PortInB, 0x379, 0, 0x5A),
          close_event(3)});
  int fd = open("/dev/ferrox", O_RDONLY);
  EXPECT_EQ(Port(fd, Request::PortOutB, 0x378, 0x42), -EIO);
  ASSERT_TRUE(pc.replay().divergence());
  EXPECT_EQ(*pc.replay().divergence(),
            "diverged at call #1\n"
            "  expected: port out port=0x0378 width=1 value=0x41\n"
            "  came:     port out port=0x0378 width=1 value=0x42");
  EXPECT_EQ(Port(fd, Request::PortInB, 0x379), -EIO);
  close(fd);
}

std::atomic<int> signals_seen{0};
std::atomic<std::uint32_t> cookie_seen{0}, line_seen{0};

void on_interrupt(int, siginfo_t* info, void*) {
  ++signals_seen;
  cookie_seen = static_cast<std::uint32_t>(info->si_errno);
  line_seen = static_cast<std::uint32_t>(info->si_code);
}

TEST_F(ReplayTest, ASignalComesAfterItsCallWithTheCookieOfThisRun) {
  Replay({open_event(0), irq_event(1, Request::IrqUnmask, 7, 0x1111), port_event(2, Request::PortOutB, 0x37A, 0x1C, 0x1C),
          signal_event(3, 7, 0x1111), port_event(3, Request::PortInB, 0x379, 0, 0x5F), irq_event(4, Request::IrqMask, 7, 0),
          close_event(5)});
  struct sigaction action {}, before {};
  action.sa_sigaction = on_interrupt;
  action.sa_flags = SA_SIGINFO;
  sigaction(ferrox::InterruptSignal, &action, &before);
  signals_seen = 0;
  int fd = open("/dev/ferrox", O_RDONLY);
  ferrox::TIrqRequest unmask{getpid(), ferrox::InterruptSignal, 7, 0x2222};
  EXPECT_EQ(ioctl(fd, Request::IrqUnmask, &unmask), 0);
  EXPECT_EQ(signals_seen.load(), 0);
  EXPECT_EQ(Port(fd, Request::PortOutB, 0x37A, 0x1C), 0x1C);
  EXPECT_EQ(signals_seen.load(), 1);
  EXPECT_EQ(cookie_seen.load(), 0x2222u);
  EXPECT_EQ(line_seen.load(), 7u);
  EXPECT_EQ(Port(fd, Request::PortInB, 0x379), 0x5F);
  ferrox::TIrqRequest mask{getpid(), ferrox::InterruptSignal, 7, 0};
  EXPECT_EQ(ioctl(fd, Request::IrqMask, &mask), 0);
  close(fd);
  EXPECT_EQ(signals_seen.load(), 1);
  EXPECT_FALSE(pc.replay().divergence());
  sigaction(ferrox::InterruptSignal, &before, nullptr);
}

std::atomic<int> other_signals_seen{0};
void on_other_signal(int) { ++other_signals_seen; }

// A crafted recording's signals: one the line was not unmasked with, or on a line never unmasked,
// is not a driver's and does not come.
TEST_F(ReplayTest, OnlySignalsTheDriverCouldSendCome) {
  ferrox::recording::Event other = signal_event(2, 7, 0x1111);
  other.head.code = SIGUSR1;
  Replay({open_event(0), irq_event(1, Request::IrqUnmask, 7, 0x1111), signal_event(2, 7, 0x1111), other,
          signal_event(2, 5, 0x1111), port_event(2, Request::PortInB, 0x379, 0, 0x5F), close_event(3)});
  struct sigaction action {}, before {}, other_action {}, other_before {};
  action.sa_sigaction = on_interrupt;
  action.sa_flags = SA_SIGINFO;
  sigaction(ferrox::InterruptSignal, &action, &before);
  other_action.sa_handler = on_other_signal;
  sigaction(SIGUSR1, &other_action, &other_before);
  signals_seen = other_signals_seen = 0;
  int fd = open("/dev/ferrox", O_RDONLY);
  ferrox::TIrqRequest unmask{getpid(), ferrox::InterruptSignal, 7, 0x2222};
  EXPECT_EQ(ioctl(fd, Request::IrqUnmask, &unmask), 0);
  EXPECT_EQ(Port(fd, Request::PortInB, 0x379), 0x5F);
  close(fd);
  EXPECT_EQ(signals_seen.load(), 1);
  EXPECT_EQ(line_seen.load(), 7u);
  EXPECT_EQ(other_signals_seen.load(), 0);
  EXPECT_FALSE(pc.replay().divergence());
  sigaction(SIGUSR1, &other_before, nullptr);
  sigaction(ferrox::InterruptSignal, &before, nullptr);
}

// The drive is busy for one read of its status, then ready.
std::vector<ferrox::recording::Event> PolledIdentify() {
  return {open_event(0), port_event(1, Request::PortInB, 0x1F7, 0, 0x80), port_event(2, Request::PortInB, 0x1F7, 0, 0x58),
          port_event(3, Request::PortInW, 0x1F0, 0, 0x1234), close_event(4)};
}

TEST_F(ReplayTest, PollsMoreOrFewerThanRecordedPassWhenPollingIsLoose) {
  Replay(PolledIdentify());
  int fd = open("/dev/ferrox", O_RDONLY);
  EXPECT_EQ(Port(fd, Request::PortInB, 0x1F7), 0x80);
  EXPECT_EQ(Port(fd, Request::PortInB, 0x1F7), 0x58);
  EXPECT_EQ(Port(fd, Request::PortInB, 0x1F7), -EIO);  // strictly, one read too many
  close(fd);

  Replay(PolledIdentify(), {.loose_polling = true});
  fd = open("/dev/ferrox", O_RDONLY);
  for (int poll = 0; poll < 3; ++poll) Port(fd, Request::PortInB, 0x1F7);
  EXPECT_EQ(Port(fd, Request::PortInB, 0x1F7), 0x58);  // the last answer again
  EXPECT_EQ(Port(fd, Request::PortInW, 0x1F0), 0x1234);
  close(fd);
  EXPECT_FALSE(pc.replay().divergence());

  Replay(PolledIdentify(), {.loose_polling = true});
  fd = open("/dev/ferrox", O_RDONLY);
  EXPECT_EQ(Port(fd, Request::PortInB, 0x1F7), 0x80);
  EXPECT_EQ(Port(fd, Request::PortInW, 0x1F0), 0x1234);  // the recorded second poll passed over
  close(fd);
  EXPECT_FALSE(pc.replay().divergence());
}

TEST_F(ReplayTest, WhatTheProgramLeftUnmadeIsSaid) {
  Replay(PolledIdentify());
  int fd = open("/dev/ferrox", O_RDONLY);
  EXPECT_EQ(Port(fd, Request::PortInB, 0x1F7), 0x80);
  ASSERT_TRUE(pc.replay().unfinished());
  EXPECT_EQ(*pc.replay().unfinished(),
            "the program ended after 2 calls; the recording goes on with call #2: port in port=0x01f7 width=1");
  close(fd);
}

TEST_F(ReplayTest, PrivilegeIsAnsweredAsRecorded) {
  ferrox::recording::Event refused = call(ferrox::recording::Kind::Iopl, 0, -1);
  refused.head.argument = 3;
  refused.head.error = EPERM;
  Replay({refused});
  errno = 0;
  EXPECT_EQ(iopl(3), -1);  // the machine itself grants it
  EXPECT_EQ(errno, EPERM);
  EXPECT_EQ(pc.privilege().level(), 0);
}

TEST_F(ReplayTest, PortInstructionsAreAnsweredAndCheckedAsRecorded) {
  ferrox::recording::Event granted = call(ferrox::recording::Kind::Iopl, 0);
  granted.head.argument = 3;
  using ferrox::recording::Kind;
  Replay({granted, trapped_event(1, Kind::PortIn, 0x379, 1, 0x5A), trapped_event(2, Kind::PortOut, 0x378, 1, 0x41),
          trapped_event(3, Kind::PortIn, 0x1F0, 2, 0, {0x40, 0x00, 0x3F, 0xFF}), trapped_event(4, Kind::PortOut, 0x378, 1, 0x41)});
  ASSERT_EQ(iopl(3), 0);
  EXPECT_EQ(inb(0x379), 0x5A);  // the machine's printer would say 0xDF
  outb(0x41, 0x378);
  std::uint16_t words[2] = {};
  insw(0x1F0, words, 2);
  std::atomic_signal_fence(std::memory_order_seq_cst);  // the C library's port instructions tell the compiler of no memory they touch
  EXPECT_EQ(words[0], 0x0040);
  EXPECT_EQ(words[1], 0xFF3F);
  EXPECT_FALSE(pc.replay().divergence());
  outb(0x42, 0x378);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  ASSERT_TRUE(pc.replay().divergence());
  EXPECT_EQ(*pc.replay().divergence(),
            "diverged at call #4\n"
            "  expected: trapped out port=0x0378 width=1 count=1 value=0x41\n"
            "  came:     trapped out port=0x0378 width=1 count=1 value=0x42");
  EXPECT_EQ(pc.parallel_ports().printer(0x378)->received_text(), "");
  EXPECT_EQ(inb(0x379), 0xFF);  // after a divergence nothing answers
  iopl(0);
}

}  // namespace
