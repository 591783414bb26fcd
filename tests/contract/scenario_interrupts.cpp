// SPDX-License-Identifier: MIT
// Interrupt requests: what the driver refuses, and the signals it sends for the printer's
// acknowledge on line 7 to each descriptor that listens.
#include <time.h>

#include <cerrno>
#include <memory>
#include <string>

#include "tests/contract/contract_scenarios.h"
#include "tests/contract/driver.h"
#include "tests/contract/parallel_port.h"
#include "tests/contract/signal_recorder.h"

namespace contract {

namespace Request = ferrox::Request;

namespace {

constexpr std::uint32_t Line = lpt::Lpt1Irq;
constexpr int Signal = ferrox::InterruptSignal;
constexpr std::uint32_t FirstCookie = 0xC0FFEE07;  // high bit set: si_errno carries all 32 bits
constexpr std::uint32_t SecondCookie = 0x00000042;
constexpr int ExpectedWaitMs = 2000;
constexpr int SilenceWaitMs = 200;
// The C library keeps signals 32 and 33 for its threads; programs have 34..64.
constexpr int FirstProgramSignal = 34;
constexpr int LastSignal = 64;

// The host checks that each line printed reaches the printer, whatever the interrupts did.
std::string line_for(const char* what) { return std::string("ferrox contract ") + what + " " + scenarios::abi() + "\n"; }

// A printer's progress may be counted in accesses to the port rather than in time (the virtual
// PC's is), so the wait reads the status meanwhile, as a program watching for a stuck printer does.
bool acknowledged(PortPath& path, const SignalRecorder& recorder, std::size_t expected) {
  constexpr long PollUs = 100;
  for (long waited = 0; recorder.count() < expected; waited += PollUs) {
    if (waited >= ExpectedWaitMs * 1000L) return false;
    path.in8(lpt::Lpt1 + lpt::Status);
    timespec pause{0, PollUs * 1000};
    nanosleep(&pause, nullptr);
  }
  return true;
}

// Prints as an interrupt-driven program does: the next byte only after the acknowledge of the last
// one reached every listener. Printing faster would let two acknowledges merge into one edge before
// a processor takes the first, and no count could be exact.
void print_on_interrupts(scenarios::Checks& checks, PortPath& path, const std::string& text,
                         const SignalRecorder& recorder, std::size_t listeners) {
  for (char c : text) {
    std::size_t expected = recorder.count() + listeners;
    if (!SCENARIO_CHECK(checks, lpt::print_byte(path, lpt::Lpt1, c, lpt::IrqEnable))) return;
    if (!SCENARIO_CHECK(checks, acknowledged(path, recorder, expected))) return;
  }
  SCENARIO_CHECK(checks, lpt::wait_ready(path, lpt::Lpt1));
}

// The driver fills si_signo, si_errno and si_code and leaves the rest of the information zero.
bool nothing_else_filled(const siginfo_t& info) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&info);
  for (std::size_t offset = 3 * sizeof(int); offset < sizeof(siginfo_t); ++offset)
    if (bytes[offset] != 0) return false;
  return info.si_signo == Signal;
}

}  // namespace

void malformed_interrupt_requests(scenarios::Checks& checks) {
  Driver driver(checks);
  if (!SCENARIO_EQ(checks, driver.open_error(), 0)) return;
  const std::int32_t self = this_process();
  for (std::uint32_t code : {Request::IrqUnmask, Request::IrqMask}) {
    SCENARIO_CHECK(checks, driver.irq(code, self, Signal, 16).failed_with(EINVAL));
    SCENARIO_CHECK(checks, driver.irq(code, self, Signal, 0xFFFFFFFF).failed_with(EINVAL));
    // Only signals that queue instead of merging, and not the two the C library keeps.
    for (std::int32_t signal : {0, 9, 31, 32, 33, 65, -44})
      SCENARIO_CHECK(checks, driver.irq(code, self, signal, Line).failed_with(EINVAL));
    // A process signals no one but itself through the driver.
    for (std::int32_t process : {0, 1, -1, self + 1})
      SCENARIO_CHECK(checks, driver.irq(code, process, Signal, Line).failed_with(EINVAL));
  }
  SCENARIO_CHECK(checks, driver.request_value(Request::IrqCount, 16).failed_with(EINVAL));
  SCENARIO_CHECK(checks, driver.request_value(Request::IrqCount, ~0ul).failed_with(EINVAL));

  // A descriptor listens to a line once.
  SCENARIO_CHECK(checks, driver.irq(Request::IrqMask, self, Signal, Line).failed_with(EINVAL));
  SCENARIO_EQ(checks, driver.irq(Request::IrqUnmask, self, Signal, Line).result, 0);
  SCENARIO_CHECK(checks, driver.irq(Request::IrqUnmask, self, Signal, Line).failed_with(EBUSY));
  SCENARIO_EQ(checks, driver.irq(Request::IrqMask, self, Signal, Line).result, 0);
  SCENARIO_CHECK(checks, driver.irq(Request::IrqMask, self, Signal, Line).failed_with(EINVAL));
  for (std::int32_t signal : {FirstProgramSignal, LastSignal}) {
    SCENARIO_EQ(checks, driver.irq(Request::IrqUnmask, self, signal, Line).result, 0);
    SCENARIO_EQ(checks, driver.irq(Request::IrqMask, self, signal, Line).result, 0);
  }
}

void interrupts_reach_each_listener(scenarios::Checks& checks) {
  SignalRecorder recorder(Signal);
  Driver first(checks);
  auto second = std::make_unique<Driver>(checks);
  if (!SCENARIO_CHECK(checks, first.is_open() && second->is_open())) return;
  const std::int32_t self = this_process();
  DriverPath path(first);
  lpt::reset(path, lpt::Lpt1);  // before listening: whatever the printer still held is not counted
  SCENARIO_EQ(checks, first.irq(Request::IrqUnmask, self, Signal, Line, FirstCookie).result, 0);
  SCENARIO_EQ(checks, second->irq(Request::IrqUnmask, self, Signal, Line, SecondCookie).result, 0);
  long counted_before = first.irq_count(Line);

  path.out8(lpt::Lpt1 + lpt::Control, lpt::SelectIn | lpt::NotInit | lpt::IrqEnable);
  std::string both = line_for("two listeners");
  print_on_interrupts(checks, path, both, recorder, 2);
  SCENARIO_EQ(checks, recorder.carrying(FirstCookie, Line), both.size());
  SCENARIO_EQ(checks, recorder.carrying(SecondCookie, Line), both.size());
  SCENARIO_EQ(checks, recorder.count(), 2 * both.size());
  for (std::size_t i = 0; i < recorder.count() && i < SignalRecorder::Capacity; ++i)
    if (!SCENARIO_CHECK(checks, nothing_else_filled(recorder.at(i)))) break;

  SCENARIO_EQ(checks, first.irq(Request::IrqMask, self, Signal, Line).result, 0);
  std::string one = line_for("one listener");
  print_on_interrupts(checks, path, one, recorder, 1);
  SCENARIO_EQ(checks, recorder.carrying(FirstCookie, Line), both.size());
  SCENARIO_EQ(checks, recorder.carrying(SecondCookie, Line), both.size() + one.size());

  // Closing the descriptor ends its listening; with nobody listening the line is not taken at all.
  second.reset();
  std::size_t before_silence = recorder.count();
  SCENARIO_CHECK(checks, lpt::print(path, lpt::Lpt1, line_for("nobody listening"), lpt::IrqEnable));
  SCENARIO_CHECK(checks, !recorder.wait_for(before_silence + 1, SilenceWaitMs));
  SCENARIO_EQ(checks, first.irq_count(Line) - counted_before, both.size() + one.size());
  lpt::reset(path, lpt::Lpt1);
}

}  // namespace contract
