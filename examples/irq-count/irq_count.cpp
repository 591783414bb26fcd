// SPDX-License-Identifier: MIT
// irq-count: counts the interrupts of one IRQ line for a while, with an OnHwInterrupt handler.
//
// Build: c++ -o irq-count irq_count.cpp $(pkg-config --cflags --libs ferrox)
// Run:   ./irq-count [LINE [SECONDS]]                    line 7 (LPT1's) for 1 s by default
//        LD_PRELOAD=libferrox-vpc.so.0 ./irq-count 0     the virtual PC's timer, 18.2 a second
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "ferrox/component/Ferrox32.h"

namespace {

struct Counter {
  std::atomic<unsigned> interrupts{0};

  // Runs inside the handler of the interrupt signal, on whichever thread the kernel picks: only
  // async-signal-safe work here, such as this lock-free increment.
  void OnIrq(ferrox::Word) { interrupts.fetch_add(1, std::memory_order_relaxed); }
};

int run(ferrox::TFerrox32& pc, ferrox::Byte line, double seconds) {
  pc.OpenDriver();
  if (!pc.DriverActive()) {
    std::fprintf(stderr, "irq-count: cannot open /dev/ferrox: is the driver loaded, and may this user open it?\n");
    return 1;
  }
  Counter counter;
  pc.SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&Counter::OnIrq>(&counter));
  pc.UnmaskInterrupt(line);
  // The interrupts end a sleep early; sleep_for sleeps again for the rest.
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  std::int32_t driver_count = pc.InterruptCounter(line);
  pc.MaskInterrupt(line);
  std::printf("IRQ %u: %u interrupts in %.1f s (the component handled %u, the driver counted %d)\n", unsigned{line},
              counter.interrupts.load(), seconds, pc.GetHandledCounter(line), driver_count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int line = argc > 1 ? std::atoi(argv[1]) : 7;
  double seconds = argc > 2 ? std::atof(argv[2]) : 1.0;
  if (line < 0 || line >= ferrox::IrqLineCount || !(seconds > 0)) {
    std::fprintf(stderr, "usage: irq-count [LINE 0..15 [SECONDS]]\n");
    return 2;
  }
  auto* pc = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  int status = run(*pc, static_cast<ferrox::Byte>(line), seconds);
  pc->Free();
  return status;
}
