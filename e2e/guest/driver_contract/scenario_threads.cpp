// SPDX-License-Identifier: MIT
// Interrupt signals go to the process, not to one of its threads: a thread that does not block the
// signal takes them while the main thread blocks it, and they still arrive after the main thread
// has left. A process whose queue of pending signals is full loses what does not fit, and the
// kernel is told the interrupts went unhandled.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "common/check.h"
#include "common/kernel_log.h"
#include "scenarios.h"
#include "tests/contract/child_process.h"
#include "tests/contract/parallel_port.h"

namespace e2e {
namespace {

namespace lpt = contract::lpt;
namespace Request = ferrox::Request;

constexpr int Signal = ferrox::InterruptSignal;
constexpr int ExpectedWaitMs = 2000;
constexpr std::size_t MostSignals = 128;

// Which thread handled each signal; the handler only stores.
pid_t handled_by[MostSignals];
volatile sig_atomic_t handled = 0;

void note_thread(int, siginfo_t*, void*) {
  if (static_cast<std::size_t>(handled) < MostSignals) handled_by[handled] = ::gettid();
  handled = handled + 1;
}

void install_thread_recorder() {
  handled = 0;
  struct sigaction action {};
  action.sa_sigaction = note_thread;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(Signal, &action, nullptr);
}

void set_signal_blocked(bool blocked) {
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, Signal);
  pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &only, nullptr);
}

void sleep_ms(int milliseconds) {
  timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  nanosleep(&pause, nullptr);
}

std::string line_for(const char* what) { return std::string("ferrox lpt1 ") + what + " " + scenarios::abi() + "\n"; }

// Prints through the driver, each byte only once the interrupt of the one before was seen (seen()
// counts them: the signals handled, or the driver's count); answers how many bytes were printed so.
// Printing faster would let two acknowledges merge into one edge before a processor takes the
// first.
template <class Seen>
std::size_t print_one_interrupt_a_byte(const Driver& driver, const std::string& text, Seen seen) {
  contract::DriverPath path(driver);
  lpt::reset(path, lpt::Lpt1);
  path.out8(lpt::Lpt1 + lpt::Control, lpt::SelectIn | lpt::NotInit | lpt::IrqEnable);
  std::size_t printed = 0;
  for (char c : text) {
    long expected = seen() + 1;
    if (!lpt::print_byte(path, lpt::Lpt1, c, lpt::IrqEnable)) break;
    for (int waited = 0; seen() < expected && waited < ExpectedWaitMs; ++waited) sleep_ms(1);
    if (seen() < expected) break;
    ++printed;
  }
  lpt::wait_ready(path, lpt::Lpt1);
  lpt::reset(path, lpt::Lpt1);
  return printed;
}

long signals_handled() { return handled; }

bool all_handled_by(pid_t thread) {
  for (int i = 0; i < handled && static_cast<std::size_t>(i) < MostSignals; ++i)
    if (handled_by[i] != thread) return false;
  return true;
}

// What a child process reports to the scenario through a pipe.
struct Outcome {
  std::size_t printed = 0;  // bytes printed, each after the interrupt of the one before
  long signals = 0;
  long interrupts = 0;
  bool on_expected_thread = false;
};

// Every byte printed, each with its signal, all taken by the thread meant to take them.
void check_one_signal_a_byte(bool reported, const Outcome& outcome, const std::string& text) {
  CHECK(reported);
  CHECK_EQ(outcome.printed, text.size());
  CHECK_EQ(outcome.signals, outcome.printed);
  CHECK(outcome.on_expected_thread);
}

// What the kernel counts of the line's interrupts that no handler took: how many came in the latest
// burst, and when the last came.
struct Unhandled {
  std::uint64_t count = 0;
  std::uint64_t last_ms = 0;  // the kernel's unsigned 32-bit milliseconds, wrapped
};

Unhandled unhandled_on(unsigned line) {
  std::ifstream spurious("/proc/irq/" + std::to_string(line) + "/spurious");
  Unhandled unhandled;
  for (std::string key; spurious >> key;) {
    if (key == "unhandled") spurious >> unhandled.count;
    if (key == "last_unhandled") spurious >> unhandled.last_ms;
  }
  return unhandled;
}

// Whether the thread group's leader has exited (a zombie while other threads run on).
bool main_thread_gone() {
  std::ifstream status("/proc/self/task/" + std::to_string(::getpid()) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("State:", 0) == 0) return line.find('Z') != std::string::npos;
  return true;
}

}  // namespace

// The common design where one thread takes the signals and the others, the main one included,
// block them: every interrupt must reach that thread.
void interrupts_reach_a_thread_that_takes_them() {
  scenario("the main thread blocks the signal, a worker thread takes every interrupt");
  Outcome outcome;
  bool reported = contract::record_of_a_child(
      [](int channel) {
        install_thread_recorder();
        set_signal_blocked(true);
        std::atomic<pid_t> worker_id{0};
        std::atomic<bool> stop{false};
        std::thread worker([&] {
          set_signal_blocked(false);
          worker_id = ::gettid();
          while (!stop) sleep_ms(1);
        });
        while (worker_id == 0) sleep_ms(1);
        Driver driver(tally());
        driver.irq(Request::IrqUnmask, contract::this_process(), Signal, lpt::Lpt1Irq);
        Outcome o;
        o.printed = print_one_interrupt_a_byte(driver, line_for("worker thread"), signals_handled);
        o.signals = handled;
        o.on_expected_thread = all_handled_by(worker_id);
        driver.irq(Request::IrqMask, contract::this_process(), Signal, lpt::Lpt1Irq);
        stop = true;
        worker.join();
        contract::report_to_parent(channel, o);
      },
      outcome);
  check_one_signal_a_byte(reported, outcome, line_for("worker thread"));
}

// The main thread listens and then leaves with pthread_exit; the process lives on in a worker, which
// must go on receiving the interrupts.
void interrupts_outlive_the_main_thread() {
  scenario("interrupts still arrive after the main thread has left");
  Outcome outcome;
  bool reported = contract::record_of_a_child(
      [](int channel) {
        install_thread_recorder();
        auto* driver = new Driver(tally());  // outlives the main thread, whose stack is unwound
        driver->irq(Request::IrqUnmask, contract::this_process(), Signal, lpt::Lpt1Irq);
        std::thread([driver, channel] {
          for (int waited = 0; !main_thread_gone() && waited < ExpectedWaitMs; ++waited) sleep_ms(1);
          Outcome o;
          bool alone = main_thread_gone();
          o.printed = print_one_interrupt_a_byte(*driver, line_for("after the main thread"), signals_handled);
          o.signals = handled;
          o.on_expected_thread = alone && all_handled_by(::gettid());
          contract::report_to_parent(channel, o);
        }).detach();
        pthread_exit(nullptr);
      },
      outcome);
  check_one_signal_a_byte(reported, outcome, line_for("after the main thread"));
}

namespace {

// Whether the thread waits for the signal now: the kernel shows a thread in sigtimedwait with the
// signals it waits for taken out of its blocked set.
bool waits_for_signal(pid_t thread) {
  std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigBlk:", 0) == 0) return !(std::stoull(line.substr(7), nullptr, 16) >> (Signal - 1) & 1);
  return false;
}

// Takes the signal with sigtimedwait until none comes for a while, spending busy_ms after each one,
// as a worker does that handles one interrupt before it waits for the next. Constructed once it
// waits for the first.
class SigwaitWorker {
 public:
  explicit SigwaitWorker(int busy_ms) : thread_([this, busy_ms] { run(busy_ms); }) {
    for (int waited = 0; (id_ == 0 || !waits_for_signal(id_)) && waited < ExpectedWaitMs; ++waited) sleep_ms(1);
  }
  ~SigwaitWorker() { thread_.join(); }
  long taken() const { return taken_; }

 private:
  void run(int busy_ms) {
    id_ = ::gettid();
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, Signal);
    timespec patience{ExpectedWaitMs / 1000, 0};
    while (sigtimedwait(&only, nullptr, &patience) == Signal) {
      ++taken_;
      sleep_ms(busy_ms);
    }
  }

  std::atomic<long> taken_{0};
  std::atomic<pid_t> id_{0};
  std::thread thread_;
};

}  // namespace

namespace {

// Runs body(driver) in a child process whose threads all block the signal, listening on line 7
// meanwhile; body answers the outcome, which the child reports.
template <class Body>
bool listening_child_blocking_the_signal(Body body, Outcome& outcome) {
  return contract::record_of_a_child(
      [&](int channel) {
        set_signal_blocked(true);
        Driver driver(tally());
        driver.irq(Request::IrqUnmask, contract::this_process(), Signal, lpt::Lpt1Irq);
        Outcome o = body(driver);
        driver.irq(Request::IrqMask, contract::this_process(), Signal, lpt::Lpt1Irq);
        o.on_expected_thread = true;  // whichever thread waits for the signal takes it
        contract::report_to_parent(channel, o);
      },
      outcome);
}

}  // namespace

// Every thread blocks the signal; one takes them with sigtimedwait and is busy a while after each.
// An interrupt that comes while it is busy must wait for its next sigtimedwait, not on another
// thread's queue where it would never look.
void interrupts_reach_a_sigwaitinfo_worker() {
  scenario("a sigwaitinfo worker busy with the previous interrupt still takes the next");
  const std::string text = line_for("sigwaitinfo worker");
  Outcome outcome;
  bool reported = listening_child_blocking_the_signal(
      [&](const Driver& driver) {
        Outcome o;
        SigwaitWorker worker(5);
        o.printed = print_one_interrupt_a_byte(driver, text, [&] { return worker.taken(); });
        o.signals = worker.taken();
        return o;
      },
      outcome);
  check_one_signal_a_byte(reported, outcome, text);
}

// The thread that took the signals leaves while every other thread blocks them: the next ones wait
// for the main thread, which takes them with sigtimedwait, and none is lost with the thread.
void interrupts_after_the_receiving_thread_exits() {
  scenario("interrupts after the thread that took them has exited");
  const std::string first = line_for("before the thread exits"), second = line_for("after the thread exits");
  Outcome outcome;
  bool reported = listening_child_blocking_the_signal(
      [&](const Driver& driver) {
        Outcome o;
        {
          SigwaitWorker worker(0);
          o.printed = print_one_interrupt_a_byte(driver, first, [&] { return worker.taken(); });
          o.signals = worker.taken();
        }  // gone once no signal came for a while
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, Signal);
        long main_took = 0;
        o.printed += print_one_interrupt_a_byte(driver, second, [&] {
          timespec none{0, 0};
          while (sigtimedwait(&only, nullptr, &none) == Signal) ++main_took;
          return main_took;
        });
        o.signals += main_took;
        return o;
      },
      outcome);
  check_one_signal_a_byte(reported, outcome, first + second);
}

// With room for only a few pending signals, the process receives that many; the driver counts every
// interrupt, and tells the kernel those no process could take were not handled, and its log.
void interrupts_a_process_cannot_take() {
  scenario("interrupts beyond the queue of pending signals are lost, and the kernel is told");
  constexpr rlim_t PendingLimit = 4;
  Unhandled before = unhandled_on(lpt::Lpt1Irq);
  Outcome outcome;
  bool reported = contract::record_of_a_child(
      [](int channel) {
        rlimit limit{PendingLimit, PendingLimit};
        setrlimit(RLIMIT_SIGPENDING, &limit);
        set_signal_blocked(true);
        Driver driver(tally());
        const std::int32_t self = contract::this_process();
        long before = driver.irq_count(lpt::Lpt1Irq);
        driver.irq(Request::IrqUnmask, self, Signal, lpt::Lpt1Irq);
        Outcome o;
        o.printed = print_one_interrupt_a_byte(driver, line_for("signals not taken"),
                                               [&] { return driver.irq_count(lpt::Lpt1Irq); });
        o.interrupts = driver.irq_count(lpt::Lpt1Irq) - before;
        driver.irq(Request::IrqMask, self, Signal, lpt::Lpt1Irq);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, Signal);
        timespec none{0, 0};
        while (sigtimedwait(&only, nullptr, &none) == Signal) ++o.signals;
        contract::report_to_parent(channel, o);
      },
      outcome);
  CHECK(reported);
  CHECK_EQ(outcome.printed, line_for("signals not taken").size());
  CHECK_EQ(outcome.interrupts, outcome.printed);
  CHECK(outcome.signals > 0 && outcome.signals <= static_cast<long>(PendingLimit));
  Unhandled after = unhandled_on(lpt::Lpt1Irq);
  CHECK(after.count > 0 && after.last_ms != before.last_ms);  // the kernel saw them go unhandled
  CHECK(kernel_log_count("interrupts that no listening process could take") > 0);  // at a limited rate
  std::printf("   %ld interrupts, %ld signals taken\n", outcome.interrupts, outcome.signals);
}

}  // namespace e2e
