// SPDX-License-Identifier: MIT
// The PC's interval timer, channel 0 at its power-on divisor: 1193182 Hz / 65536, about 18.2
// interrupts a second on line 0. It runs on a real clock, so interrupts come while the program
// waits, as on the hardware; but only while a driver file listens to line 0, since nobody could
// tell its interrupts otherwise, and a program that never asks for them is never interrupted.
#pragma once

#include <time.h>

#include "ferrox/vpc/platform/irq_controller.h"

namespace ferrox::vpc {

class IntervalTimer final : public LineWatcher {
 public:
  static constexpr unsigned Line = 0;

  // Watches its line on the controller.
  explicit IntervalTimer(IrqController& irqs);
  ~IntervalTimer() { stop(); }
  IntervalTimer(const IntervalTimer&) = delete;
  IntervalTimer& operator=(const IntervalTimer&) = delete;

  // Whether the machine has the timer at all (the machine description says).
  void fit(bool fitted);
  bool running() const { return running_; }

  // Ticks arrive on any thread of the process that does not block them.
  void listened(bool any) override;

 private:
  void start();
  void stop();

  IrqController& irqs_;
  bool fitted_ = false;
  bool listened_ = false;
  timer_t timer_{};
  bool running_ = false;
};

}  // namespace ferrox::vpc
