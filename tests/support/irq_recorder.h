// SPDX-License-Identifier: MIT
// An OnHwInterrupt handler for tests: remembers what the signal handler called it with. It runs
// in signal context, so it only stores.
#pragma once

#include <signal.h>

#include "ferrox/component/Ferrox32.h"

struct IrqRecorder {
  volatile sig_atomic_t calls = 0;
  volatile sig_atomic_t last_irq = -1;
  ferrox::TFerrox32* component = nullptr;  // when set, each call also reads the driver's count
  volatile sig_atomic_t driver_count = -2;

  void OnIrq(ferrox::Word irq) {
    calls = calls + 1;
    last_irq = irq;
    if (component) driver_count = component->InterruptCounter(static_cast<ferrox::Byte>(irq));
  }

  ferrox::TInterruptHandler handler() { return ferrox::TInterruptHandler::Bind<&IrqRecorder::OnIrq>(this); }
};
