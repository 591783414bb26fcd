// SPDX-License-Identifier: MIT
// Signal delivery: the kernel's path where it is faithful, direct invocation of the installed
// handler where it is not.
#include "ferrox/vpc/kernel/signal_delivery.h"

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>

#include "ferrox/hwtypes/DriverContract.h"

namespace ferrox::vpc {

namespace {

siginfo_t driver_siginfo(int signal, std::int32_t error, std::int32_t code) {
  siginfo_t info;
  std::memset(&info, 0, sizeof info);
  info.si_signo = signal;
  info.si_errno = error;
  info.si_code = code;
  return info;
}

bool queue_to_this_thread(int signal, siginfo_t& info) {
  return syscall(SYS_rt_tgsigqueueinfo, getpid(), gettid(), signal, &info) == 0;
}

bool is_blocked(int signal) {
  sigset_t current;
  pthread_sigmask(SIG_BLOCK, nullptr, &current);
  return sigismember(&current, signal) == 1;
}

// --- The probe: one signal through the kernel, checked for its fields and for arriving before
// the sending call returns, as it does natively.

constexpr int ProbeSignal = InterruptSignal;  // the way the driver's signals take
constexpr std::int32_t ProbeError = 0x5EC0FFEE;
constexpr std::int32_t ProbeCode = 7;

volatile sig_atomic_t probe_arrived = 0;
volatile sig_atomic_t probe_faithful = 0;
std::atomic<pid_t> probing_thread{0};

void probe_handler(int, siginfo_t* info, void*) {
  probe_arrived = 1;
  probe_faithful = info->si_errno == ProbeError && info->si_code == ProbeCode;
}

// A probe signal that did not arrive in time is taken off the queue, so that it never reaches
// the handler restored after the probe.
void drain_late_probe() {
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, ProbeSignal);
  timespec wait{0, 200'000'000};
  sigtimedwait(&only, nullptr, &wait);
}

bool probe_kernel_path() {
  sigset_t only, saved_mask;
  sigemptyset(&only);
  sigaddset(&only, ProbeSignal);
  pthread_sigmask(SIG_BLOCK, &only, &saved_mask);
  struct sigaction probe {}, saved {};
  probe.sa_sigaction = probe_handler;
  probe.sa_flags = SA_SIGINFO;
  sigemptyset(&probe.sa_mask);
  sigaction(ProbeSignal, &probe, &saved);
  probe_arrived = 0;
  probe_faithful = 0;
  probing_thread.store(gettid());
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  siginfo_t info = driver_siginfo(ProbeSignal, ProbeError, ProbeCode);
  bool queued = queue_to_this_thread(ProbeSignal, info);  // natively, handled within
  bool faithful = queued && probe_arrived && probe_faithful;
  pthread_sigmask(SIG_BLOCK, &only, nullptr);
  if (queued && !probe_arrived) drain_late_probe();
  probing_thread.store(0);
  sigaction(ProbeSignal, &saved, nullptr);
  pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
  return faithful;
}

// --- The signal for the process. The kernel takes si_code >= 0 only from a sender that names
// itself, and rt_sigqueueinfo's process is found by any of its threads' ids: queued to the sending
// thread's id, the signal is the process's, pending for whichever thread takes it (this one first,
// when it does not block it) and seen by sigwaitinfo and signalfd on any thread.

void queue_for_process(int signal, std::int32_t error, std::int32_t code) {
  siginfo_t info = driver_siginfo(signal, error, code);
  syscall(SYS_rt_sigqueueinfo, gettid(), signal, &info);
}

// --- Direct invocation, for when the kernel's path is not faithful.

struct HeldSignal {
  int signal;
  std::int32_t error;
  std::int32_t code;
};

// Signals sent while blocked wait here, as the kernel's queue would keep them (and, like it,
// the queue is bounded: beyond it a signal is lost).
class HeldSignals {
 public:
  bool push(const HeldSignal& held) {
    if (count_ == held_.size()) return false;
    held_[(first_ + count_++) % held_.size()] = held;
    return true;
  }
  bool pop_unblocked(HeldSignal& out) {
    if (count_ == 0 || is_blocked(held_[first_].signal)) return false;
    out = held_[first_];
    first_ = (first_ + 1) % held_.size();
    --count_;
    return true;
  }

 private:
  std::array<HeldSignal, 256> held_{};
  std::size_t first_ = 0;
  std::size_t count_ = 0;
};

HeldSignals held_signals;

std::atomic<vpc_signal_watcher> signal_watcher{nullptr};

// The handler as the program installed it: through whatever interposes sigaction in front of the C
// library (a sanitizer's runtime, a tracer, which hears of the signal from the watcher instead).
void invoke_handler(const HeldSignal& held) {
  struct sigaction action {};
  sigaction(held.signal, nullptr, &action);
  bool takes_info = action.sa_flags & SA_SIGINFO;
  if (!takes_info && action.sa_handler == SIG_IGN) return;
  if (!takes_info && action.sa_handler == SIG_DFL) {
    raise(held.signal);  // the default action needs no fields: let the kernel carry it out
    return;
  }
  sigset_t block = action.sa_mask;
  if (!(action.sa_flags & SA_NODEFER)) sigaddset(&block, held.signal);
  sigset_t saved;
  pthread_sigmask(SIG_BLOCK, &block, &saved);
  if (action.sa_flags & SA_RESETHAND) {
    struct sigaction reset {};
    reset.sa_handler = SIG_DFL;
    sigaction(held.signal, &reset, nullptr);
  }
  siginfo_t info = driver_siginfo(held.signal, held.error, held.code);
  if (vpc_signal_watcher watch = signal_watcher.load(std::memory_order_acquire)) watch(held.signal, held.code, held.error);
  ucontext_t context;
  std::memset(&context, 0, sizeof context);
  if (takes_info) {
    action.sa_sigaction(held.signal, &info, &context);
  } else {
    action.sa_handler(held.signal);
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

void deliver_directly(const HeldSignal& signal) {
  held_signals.push(signal);
  HeldSignal next;
  while (held_signals.pop_unblocked(next)) invoke_handler(next);
}

enum class Path { Undecided, Kernel, Direct };
Path path = Path::Undecided;

}  // namespace

// The search starts at SIGRTMIN + 12, past the few real-time signals programs number from SIGRTMIN
// and the driver's 44 (SIGRTMIN + 10), and well below SIGRTMAX, whose neighbours qemu-user keeps for
// itself; it then goes round the rest.
int claim_signal(void (*handler)(int, siginfo_t*, void*)) {
  const int count = SIGRTMAX - SIGRTMIN + 1;
  for (int step = 0; step < count; ++step) {
    int signal = SIGRTMIN + (12 + step) % count;
    struct sigaction current {};
    if (signal == ferrox::InterruptSignal || sigaction(signal, nullptr, &current) != 0) continue;
    bool ours = (current.sa_flags & SA_SIGINFO) && current.sa_sigaction == handler;
    if (ours) return signal;
    if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (sigaction(signal, &action, nullptr) == 0) return signal;
  }
  return 0;
}

void watch_delivered_signals(vpc_signal_watcher watch) { signal_watcher.store(watch, std::memory_order_release); }

bool kernel_delivers_signals() {
  if (path == Path::Undecided) path = probe_kernel_path() ? Path::Kernel : Path::Direct;
  return path == Path::Kernel;
}

bool probing_signals() {
  pid_t thread = probing_thread.load();
  return thread != 0 && thread == gettid();
}

void send_driver_signal(int signal, std::int32_t error, std::int32_t code) {
  if (kernel_delivers_signals()) {
    queue_for_process(signal, error, code);
  } else {
    deliver_directly({signal, error, code});
  }
}

}  // namespace ferrox::vpc
