// SPDX-License-Identifier: MIT
// Interrupt lines as the kernel sees them: hooked while a process listens and given back when it
// dies, taken and given back while another process makes them interrupt, and the lines the driver
// cannot take.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "common/check.h"
#include "common/kernel_log.h"
#include "scenarios.h"
#include "tests/contract/parallel_port.h"

namespace e2e {
namespace {

namespace lpt = contract::lpt;

constexpr int ChurnLines = 6;
constexpr unsigned ChurnBytePauseUs = 200;
constexpr unsigned ChurnListenUs = 100;

constexpr int Signal = ferrox::InterruptSignal;
namespace Request = ferrox::Request;

// Signal 44 stays blocked while the scenario collects it with sigtimedwait.
class InterruptSignalBlocked final {
 public:
  InterruptSignalBlocked() {
    sigemptyset(&set_);
    sigaddset(&set_, ferrox::InterruptSignal);
    sigprocmask(SIG_BLOCK, &set_, &previous_);
  }
  ~InterruptSignalBlocked() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  const sigset_t& set() const { return set_; }

 private:
  sigset_t set_{};
  sigset_t previous_{};
};

std::vector<siginfo_t> collect(const InterruptSignalBlocked& blocked, std::size_t wanted, int wait_ms) {
  std::vector<siginfo_t> signals;
  while (signals.size() < wanted) {
    timespec timeout{wait_ms / 1000, (wait_ms % 1000) * 1000000L};
    siginfo_t info{};
    if (sigtimedwait(&blocked.set(), &info, &timeout) != ferrox::InterruptSignal) break;
    signals.push_back(info);
  }
  return signals;
}

// Whether /proc/interrupts shows the module's handler on the line.
bool hooked(unsigned line) {
  std::ifstream interrupts("/proc/interrupts");
  std::string prefix = std::to_string(line) + ":";
  for (std::string text; std::getline(interrupts, text);) {
    std::size_t start = text.find_first_not_of(' ');
    if (start != std::string::npos && text.compare(start, prefix.size(), prefix) == 0)
      return text.find("ferrox") != std::string::npos;
  }
  return false;
}

std::string line_for(const std::string& what) { return "ferrox lpt1 " + what + " " + scenarios::abi() + "\n"; }

}  // namespace

// Descriptors take line 7 and give it back (by masking, or by closing) over and over while another
// process prints with interrupts on: the handler must never meet a listener being removed.
void lines_churn_under_interrupts(PortPath& printer_path) {
  scenario("line 7 taken and given back while it interrupts");
  InterruptSignalBlocked blocked;
  Driver counter(tally());
  long counted_before = counter.irq_count(lpt::Lpt1Irq);
  pid_t printer = ::fork();
  if (printer == 0) {
    lpt::reset(printer_path, lpt::Lpt1);
    printer_path.out8(lpt::Lpt1 + lpt::Control, lpt::SelectIn | lpt::NotInit | lpt::IrqEnable);
    bool printed = true;
    for (int i = 1; i <= ChurnLines; ++i)
      for (char c : line_for("churn " + std::to_string(i))) {
        printed &= lpt::print_byte(printer_path, lpt::Lpt1, c, lpt::IrqEnable);
        ::usleep(ChurnBytePauseUs);  // interrupts spread over the whole churn
      }
    printed &= lpt::wait_ready(printer_path, lpt::Lpt1);
    lpt::reset(printer_path, lpt::Lpt1);
    ::_exit(printed ? 0 : 1);
  }
  int rounds = 0;
  int refused = 0;
  int status = 0;
  while (::waitpid(printer, &status, WNOHANG) == 0) {
    Driver listener(tally());
    const std::int32_t self = contract::this_process();
    if (listener.irq(Request::IrqUnmask, self, Signal, lpt::Lpt1Irq, static_cast<std::uint32_t>(rounds)).result != 0)
      ++refused;
    ::usleep(ChurnListenUs);
    if (rounds % 2 && listener.irq(Request::IrqMask, self, Signal, lpt::Lpt1Irq).result != 0) ++refused;
    ++rounds;
  }
  CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  CHECK(rounds > 0);
  CHECK_EQ(refused, 0);
  CHECK(!hooked(lpt::Lpt1Irq));
  auto arrived = collect(blocked, static_cast<std::size_t>(-1), 0);
  std::size_t on_line_7 = 0;
  for (const siginfo_t& info : arrived) on_line_7 += info.si_code == static_cast<int>(lpt::Lpt1Irq);
  CHECK_EQ(on_line_7, arrived.size());
  long counted = counter.irq_count(lpt::Lpt1Irq) - counted_before;
  CHECK(counted > 0);  // the listeners came and went while the line interrupted
  CHECK(arrived.size() <= static_cast<std::size_t>(counted));
  std::printf("   %d rounds, %ld interrupts, %zu signals\n", rounds, counted, arrived.size());
}

// A line is hooked while a process listens; a process that dies holding a line and a window gives
// both back.
void descriptor_release_frees_lines() {
  scenario("a dying process gives its lines back");
  int ready[2];
  if (!CHECK(::pipe(ready) == 0)) return;
  pid_t child = ::fork();
  if (child == 0) {
    Driver own(tally());
    bool held = own.irq(Request::IrqUnmask, contract::this_process(), Signal, lpt::Lpt1Irq).result == 0 &&
                own.map(0x400, 256) != 0;
    char answer = held ? 'y' : 'n';
    [[maybe_unused]] ssize_t sent = ::write(ready[1], &answer, 1);
    ::pause();  // killed here, descriptor still open
    ::_exit(0);
  }
  char answer = 'n';
  CHECK_EQ(::read(ready[0], &answer, 1), 1);
  CHECK_EQ(answer, 'y');
  CHECK(hooked(lpt::Lpt1Irq));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  CHECK(!hooked(lpt::Lpt1Irq));
  ::close(ready[0]);
  ::close(ready[1]);
}

void lines_the_driver_cannot_take(const Driver& driver) {
  scenario("a line the kernel holds, and a level-triggered line, are refused");
  const std::int32_t self = contract::this_process();
  // Refused without a word in the kernel's log, however often it is asked for.
  const std::string complaint = "mismatch irq 0.";
  std::size_t complaints = kernel_log_count(complaint);
  for (int i = 0; i < 10; ++i) CHECK(driver.irq(Request::IrqUnmask, self, Signal, 0).failed_with(EBUSY));
  CHECK_EQ(kernel_log_count(complaint), complaints);
  CHECK(driver.irq(Request::IrqMask, self, Signal, 0).failed_with(EINVAL));
  // This PC's firmware declares line 5 level-triggered (it may carry PCI interrupts).
  CHECK(driver.irq(Request::IrqUnmask, self, Signal, lpt::Lpt2Irq).failed_with(EOPNOTSUPP));
  CHECK(!hooked(lpt::Lpt2Irq));
}

}  // namespace e2e
