// Signal delivery to the calling thread: the kernel's path where it is faithful, direct
// invocation of the installed handler where it is not.
#include "ferrox/vpc/kernel/signal_delivery.h"

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace vpc {

namespace {

siginfo_t driver_siginfo(int signal, std::int32_t error, std::int32_t code) {
  siginfo_t info;
  std::memset(&info, 0, sizeof info);
  info.si_signo = signal;
  info.si_errno = error;
  info.si_code = code;
  return info;
}

bool queue_with_kernel(int signal, std::int32_t error, std::int32_t code) {
  siginfo_t info = driver_siginfo(signal, error, code);
  return syscall(SYS_rt_tgsigqueueinfo, getpid(), gettid(), signal, &info) == 0;
}

bool is_blocked(int signal) {
  sigset_t current;
  pthread_sigmask(SIG_BLOCK, nullptr, &current);
  return sigismember(&current, signal) == 1;
}

// --- The probe: one signal through the kernel, checked for its fields and for arriving before
// the sending call returns, as it does natively.

constexpr int ProbeSignal = 44;
constexpr std::int32_t ProbeError = 0x5EC0FFEE;
constexpr std::int32_t ProbeCode = 7;

volatile sig_atomic_t probe_arrived = 0;
volatile sig_atomic_t probe_faithful = 0;

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
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  bool queued = queue_with_kernel(ProbeSignal, ProbeError, ProbeCode);  // natively, handled within
  bool faithful = queued && probe_arrived && probe_faithful;
  pthread_sigmask(SIG_BLOCK, &only, nullptr);
  if (queued && !probe_arrived) drain_late_probe();
  sigaction(ProbeSignal, &saved, nullptr);
  pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
  return faithful;
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

bool kernel_delivers_signals() {
  if (path == Path::Undecided) path = probe_kernel_path() ? Path::Kernel : Path::Direct;
  return path == Path::Kernel;
}

void send_signal_to_this_thread(int signal, std::int32_t error, std::int32_t code) {
  if (kernel_delivers_signals()) {
    queue_with_kernel(signal, error, code);
  } else {
    deliver_directly({signal, error, code});
  }
}

}  // namespace vpc
