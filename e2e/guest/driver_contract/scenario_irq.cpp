// Interrupts: the parallel port's acknowledge on line 7 reaching the process as signal 44, the
// driver's count, several listeners, masking, and release of the lines with the descriptor.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "common/check.h"
#include "parallel_port.h"
#include "scenarios.h"

namespace e2e {
namespace {

constexpr std::uint32_t FirstCookie = 0xC0FFEE07;  // high bit set: si_errno carries all 32 bits
constexpr std::uint32_t SecondCookie = 0x00000042;
constexpr int ExpectedWaitMs = 2000;
constexpr int SilenceWaitMs = 300;
constexpr int ChurnLines = 6;
constexpr unsigned ChurnBytePauseUs = 200;
constexpr unsigned ChurnListenUs = 100;

ferrox::TIrqRequest irq_request(std::uint32_t line, std::uint32_t cookie) {
  return {static_cast<std::int32_t>(::getpid()), ferrox::InterruptSignal, line, cookie};
}

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

std::size_t carrying(const std::vector<siginfo_t>& signals, std::uint32_t cookie, int line) {
  std::size_t n = 0;
  for (const siginfo_t& info : signals)
    if (static_cast<std::uint32_t>(info.si_errno) == cookie && info.si_code == line) ++n;
  return n;
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

// Prints as an interrupt-driven program does: the next byte only after the acknowledge of the last
// one arrived (one signal per listener). Printing faster would let two acknowledges merge into one
// edge before a processor takes the first, and a count could no longer be exact.
std::vector<siginfo_t> print_on_interrupts(PortPath& path, const std::string& text,
                                           const InterruptSignalBlocked& blocked, std::size_t listeners) {
  std::vector<siginfo_t> signals;
  for (char c : text) {
    if (!lpt::print_byte(path, lpt::Lpt1, c, lpt::IrqEnable)) {
      CHECK(!"the printer stayed busy");
      break;
    }
    auto arrived = collect(blocked, listeners, ExpectedWaitMs);
    signals.insert(signals.end(), arrived.begin(), arrived.end());
  }
  CHECK(lpt::wait_ready(path, lpt::Lpt1));
  return signals;
}

long count(const Driver& driver, unsigned line) {
  return driver.request_value(ferrox::Request::IrqCount, line).result;
}

std::string line_for(const std::string& what) { return "ferrox lpt1 " + what + " " + abi() + "\n"; }

}  // namespace

void interrupts_reach_the_process(const Driver& driver, PortPath& path) {
  scenario("interrupts on line 7 from the parallel port's acknowledge");
  InterruptSignalBlocked blocked;
  auto first = irq_request(lpt::Lpt1Irq, FirstCookie);
  CHECK_EQ(driver.request(ferrox::Request::IrqUnmask, &first).result, 0);
  CHECK(hooked(lpt::Lpt1Irq));
  long before = count(driver, lpt::Lpt1Irq);

  lpt::reset(path, lpt::Lpt1);
  path.out8(lpt::Lpt1 + lpt::Control, lpt::SelectIn | lpt::NotInit | lpt::IrqEnable);
  std::string text = line_for("interrupts");
  auto signals = print_on_interrupts(path, text, blocked, 1);
  CHECK_EQ(signals.size(), text.size());
  CHECK_EQ(carrying(signals, FirstCookie, lpt::Lpt1Irq), text.size());
  CHECK(collect(blocked, 1, SilenceWaitMs).empty());
  CHECK_EQ(count(driver, lpt::Lpt1Irq) - before, text.size());

  scenario("two descriptors listening on line 7");
  {
    Driver second;
    auto other = irq_request(lpt::Lpt1Irq, SecondCookie);
    CHECK_EQ(second.request(ferrox::Request::IrqUnmask, &other).result, 0);
    text = line_for("two listeners");
    signals = print_on_interrupts(path, text, blocked, 2);
    CHECK_EQ(carrying(signals, FirstCookie, lpt::Lpt1Irq), text.size());
    CHECK_EQ(carrying(signals, SecondCookie, lpt::Lpt1Irq), text.size());
  }

  scenario("masked line 7 sends nothing");
  CHECK_EQ(driver.request(ferrox::Request::IrqMask, &first).result, 0);
  CHECK(!hooked(lpt::Lpt1Irq));
  long masked_at = count(driver, lpt::Lpt1Irq);
  CHECK(lpt::print(path, lpt::Lpt1, line_for("masked"), lpt::IrqEnable));
  CHECK(collect(blocked, 1, SilenceWaitMs).empty());
  CHECK_EQ(count(driver, lpt::Lpt1Irq), masked_at);
  lpt::reset(path, lpt::Lpt1);
  path.in8(lpt::Lpt1 + lpt::Status);  // leaves no acknowledge pending
}

// Descriptors take line 7 and give it back (by masking, or by closing) over and over while another
// process prints with interrupts on: the handler must never meet a listener being removed.
void lines_churn_under_interrupts(PortPath& printer_path) {
  scenario("line 7 taken and given back while it interrupts");
  InterruptSignalBlocked blocked;
  Driver counter;
  long counted_before = count(counter, lpt::Lpt1Irq);
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
    printer_path.in8(lpt::Lpt1 + lpt::Status);
    ::_exit(printed ? 0 : 1);
  }
  int rounds = 0;
  int refused = 0;
  int status = 0;
  while (::waitpid(printer, &status, WNOHANG) == 0) {
    Driver listener;
    auto request = irq_request(lpt::Lpt1Irq, static_cast<std::uint32_t>(rounds));
    if (listener.request(ferrox::Request::IrqUnmask, &request).result != 0) ++refused;
    ::usleep(ChurnListenUs);
    if (rounds % 2 && listener.request(ferrox::Request::IrqMask, &request).result != 0) ++refused;
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
  long counted = count(counter, lpt::Lpt1Irq) - counted_before;
  CHECK(counted > 0);  // the listeners came and went while the line interrupted
  CHECK(arrived.size() <= static_cast<std::size_t>(counted));
  std::printf("   %d rounds, %ld interrupts, %zu signals\n", rounds, counted, arrived.size());
}

// A process that dies holding a line and a window gives both back.
void descriptor_release_frees_lines() {
  scenario("a dying process gives its lines back");
  int ready[2];
  if (!CHECK(::pipe(ready) == 0)) return;
  pid_t child = ::fork();
  if (child == 0) {
    Driver own;
    auto request = irq_request(lpt::Lpt1Irq, 1);
    bool held = own.request(ferrox::Request::IrqUnmask, &request).result == 0 && own.map(0x400, 256) != 0;
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
  auto timer = irq_request(0, 1);
  CHECK(driver.request(ferrox::Request::IrqUnmask, &timer).failed_with(EBUSY));
  CHECK(driver.request(ferrox::Request::IrqMask, &timer).failed_with(EINVAL));
  // This PC's firmware declares line 5 level-triggered (it may carry PCI interrupts).
  auto level = irq_request(lpt::Lpt2Irq, 1);
  CHECK(driver.request(ferrox::Request::IrqUnmask, &level).failed_with(EOPNOTSUPP));
  CHECK(!hooked(lpt::Lpt2Irq));
}

}  // namespace e2e
