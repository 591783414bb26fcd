// SPDX-License-Identifier: MIT
// The interval timer: a POSIX timer whose signal raises line 0.
#include "ferrox/vpc/platform/timer.h"

#include <signal.h>

#include "ferrox/vpc/kernel/signal_delivery.h"

namespace ferrox::vpc {

namespace {

constexpr long TickNanoseconds = 1'000'000'000LL * 65536 / 1193182;

// The controller the ticks raise; there is one machine, and a tick queued before the timer
// stopped still finds it, since the machine is never destroyed.
IrqController* ticking = nullptr;

void on_tick(int, siginfo_t* info, void*) {
  if (info->si_code == SI_TIMER && ticking) ticking->raise_from_signal(IntervalTimer::Line);
}

}  // namespace

IntervalTimer::IntervalTimer(IrqController& irqs) : irqs_(irqs) { irqs_.watch(Line, this); }

void IntervalTimer::fit(bool fitted) {
  fitted_ = fitted;
  if (fitted_ && listened_) start();
  if (!fitted_) stop();
}

void IntervalTimer::listened(bool any) {
  listened_ = any;
  if (any && fitted_) start();
  if (!any) stop();
}

void IntervalTimer::start() {
  if (running_) return;
  int signal = claim_signal(on_tick);
  if (!signal) return;  // the program uses every real-time signal: no ticks
  ticking = &irqs_;
  // The process's signal, taken by any thread that does not block it, as long as the process
  // lives: not one thread's, which may block signals or end.
  sigevent event{};
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = signal;
  if (timer_create(CLOCK_MONOTONIC, &event, &timer_) != 0) return;
  itimerspec period{{0, TickNanoseconds}, {0, TickNanoseconds}};
  timer_settime(timer_, 0, &period, nullptr);
  running_ = true;
}

void IntervalTimer::stop() {
  if (!running_) return;
  timer_delete(timer_);
  running_ = false;
}

}  // namespace ferrox::vpc
