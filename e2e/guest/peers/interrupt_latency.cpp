// SPDX-License-Identifier: MIT
// The time from the port write that makes QEMU's parallel port raise IRQ 7 to the program
// learning of it: the library's OnHwInterrupt, called in the handler of signal 44, against
// ppdev's /dev/parport0 becoming readable to poll. The two cannot hold the line at once, so they
// take it in turn, round by round, the kernel's parallel-port stack loaded for ppdev's turn.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <vector>

#include "common/check.h"
#include "peers/lpt_interrupt.h"
#include "peers/parport_stack.h"

namespace peers {

namespace {

constexpr const char* Group = "interrupt latency";
constexpr std::int64_t Patience = 1'000'000'000;  // an interrupt later than this is lost
constexpr int WarmUp = 3;  // interrupts first raised in a turn, not counted: the emulator translates their paths

// The handler runs in signal context: it only notes the time and says it came.
struct Arrival {
  volatile std::int64_t at = 0;
  volatile sig_atomic_t came = 0;
  void OnIrq(ferrox::Word) {
    at = now_ns();
    came = 1;
  }
};

// Raises the interrupt, and adds the latency of samples of them to latencies; wait(start) says
// when the program learned of each one, or a negative value when it did not.
template <class Wait>
void sample(int samples, std::vector<double>& latencies, Wait&& wait) {
  int kept = 0;
  for (int sample = -WarmUp; sample < samples; ++sample) {
    std::int64_t start = now_ns();
    raise_lpt_irq();
    std::int64_t learned = wait(start);
    lower_lpt_irq();
    if (learned < 0) break;
    if (sample >= 0) latencies.push_back(static_cast<double>(learned - start));
    kept += sample >= 0;
  }
  CHECK_EQ(kept, samples);  // none lost
}

void ferrox_turn(ferrox::TFerrox32& component, int samples, std::vector<double>& latencies) {
  Arrival arrival;
  component.SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&Arrival::OnIrq>(&arrival));
  component.UnmaskInterrupt(LptIrq);
  enable_lpt_irq();
  sample(samples, latencies, [&](std::int64_t start) -> std::int64_t {
    while (!arrival.came)
      if (now_ns() - start > Patience) return -1;
    arrival.came = 0;
    return arrival.at;
  });
  disable_lpt_irq();
  component.MaskInterrupt(LptIrq);
  component.SetOnHwInterrupt({});
}

void ppdev_turn(int samples, std::vector<double>& latencies) {
  ParportStack stack;
  if (!CHECK(stack.loaded())) return;
  int parport = open("/dev/parport0", O_RDWR | O_CLOEXEC);
  // Claiming the port enables its interrupt and makes ppdev count them.
  if (CHECK(parport >= 0) && CHECK(ioctl(parport, PPCLAIM) == 0)) {
    enable_lpt_irq();
    int cleared = 0;
    ioctl(parport, PPCLRIRQ, &cleared);
    sample(samples, latencies, [&](std::int64_t) -> std::int64_t {
      pollfd readable{parport, POLLIN, 0};
      if (poll(&readable, 1, static_cast<int>(Patience / 1'000'000)) != 1) return -1;
      std::int64_t learned = now_ns();
      ioctl(parport, PPCLRIRQ, &cleared);
      return learned;
    });
    disable_lpt_irq();
    ioctl(parport, PPRELEASE);
  }
  close(parport);
}

}  // namespace

void interrupt_latency(ferrox::TFerrox32& component, const Budget& budget) {
  if (!CHECK(hold_lpt_ports())) return;
  std::vector<double> library, ppdev, ratios;
  for (int round = 0; round < budget.latency_rounds; ++round) {
    std::size_t library_before = library.size(), ppdev_before = ppdev.size();
    ferrox_turn(component, budget.interrupts, library);
    ppdev_turn(budget.interrupts, ppdev);
    if (library.size() == library_before || ppdev.size() == ppdev_before) return;
    ratios.push_back(percentile({ppdev.begin() + static_cast<long>(ppdev_before), ppdev.end()}, 50) /
                     percentile({library.begin() + static_cast<long>(library_before), library.end()}, 50));
  }
  report_latency(Group, "ferrox OnHwInterrupt", library, 1);
  report_latency(Group, "ppdev poll", ppdev, percentile(ratios, 50));
}

}  // namespace peers
