// The interval timer: a POSIX timer whose signal raises line 0.
#include "ferrox/vpc/platform/timer.h"

#include <signal.h>
#include <unistd.h>

namespace vpc {

namespace {

// A real-time signal of the virtual PC's own, apart from the driver's 44. SA_RESTART: a tick by
// itself interrupts no system call of the program; only the driver's signal does.
int tick_signal() { return SIGRTMIN + 12; }

constexpr long TickNanoseconds = 1'000'000'000LL * 65536 / 1193182;

void on_tick(int, siginfo_t* info, void*) {
  static_cast<IrqController*>(info->si_value.sival_ptr)->raise_from_signal(IntervalTimer::Line);
}

}  // namespace

void IntervalTimer::start() {
  if (running_) return;
  struct sigaction action {};
  action.sa_sigaction = on_tick;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(tick_signal(), &action, nullptr);

  sigevent event{};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = tick_signal();
  event.sigev_value.sival_ptr = &irqs_;
  event._sigev_un._tid = gettid();
  if (timer_create(CLOCK_MONOTONIC, &event, &timer_) != 0) return;
  itimerspec period{{0, TickNanoseconds}, {0, TickNanoseconds}};
  timer_settime(timer_, 0, &period, nullptr);
  running_ = true;
}

void IntervalTimer::stop() {
  if (!running_) return;
  timer_delete(timer_);  // a tick already queued still finds the controller, which outlives it
  running_ = false;
}

}  // namespace vpc
