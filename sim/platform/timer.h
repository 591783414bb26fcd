// The PC's interval timer, channel 0 at its power-on divisor: 1193182 Hz / 65536, about 18.2
// interrupts a second on line 0. It runs on a real clock, so interrupts come while the program
// waits, as on the hardware.
#pragma once

#include <time.h>

#include "ferrox/vpc/platform/irq_controller.h"

namespace vpc {

class IntervalTimer {
 public:
  static constexpr unsigned Line = 0;

  explicit IntervalTimer(IrqController& irqs) : irqs_(irqs) {}
  ~IntervalTimer() { stop(); }
  IntervalTimer(const IntervalTimer&) = delete;
  IntervalTimer& operator=(const IntervalTimer&) = delete;

  // Ticks arrive on the thread that starts the timer.
  void start();
  void stop();
  bool running() const { return running_; }

 private:
  IrqController& irqs_;
  timer_t timer_{};
  bool running_ = false;
};

}  // namespace vpc
