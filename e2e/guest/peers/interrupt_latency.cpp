// The time from the port write that makes QEMU's parallel port raise IRQ 7 to the program
// learning of it: the library's OnHwInterrupt, called in the handler of signal 44, against
// ppdev's /dev/parport0 becoming readable to poll.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <vector>

#include "common/check.h"
#include "peers/lpt_interrupt.h"

namespace peers {

namespace {

constexpr const char* Group = "interrupt latency";
constexpr std::int64_t Patience = 1'000'000'000;  // an interrupt later than this is lost

// The handler runs in signal context: it only notes the time and says it came.
struct Arrival {
  volatile std::int64_t at = 0;
  volatile sig_atomic_t came = 0;
  void OnIrq(ferrox::Word) {
    at = now_ns();
    came = 1;
  }
};

constexpr int WarmUp = 3;  // interrupts first raised, not counted: the emulator translates their paths

// Raises the interrupt, and keeps the latency of samples of them; wait(start) says when the
// program learned of each one, or a negative value when it did not.
template <class Wait>
std::vector<double> samples_of(int samples, Wait&& wait) {
  std::vector<double> latencies;
  for (int sample = -WarmUp; sample < samples; ++sample) {
    std::int64_t start = now_ns();
    raise_lpt_irq();
    std::int64_t learned = wait(start);
    lower_lpt_irq();
    if (learned < 0) break;
    if (sample >= 0) latencies.push_back(static_cast<double>(learned - start));
  }
  CHECK_EQ(latencies.size(), static_cast<std::size_t>(samples));  // none lost
  return latencies;
}

}  // namespace

void ferrox_interrupt_latency(ferrox::TFerrox32& component, const Budget& budget) {
  if (!CHECK(hold_lpt_ports())) return;
  Arrival arrival;
  component.SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&Arrival::OnIrq>(&arrival));
  component.UnmaskInterrupt(LptIrq);
  enable_lpt_irq();
  auto latencies = samples_of(budget.interrupts, [&](std::int64_t start) -> std::int64_t {
    while (!arrival.came)
      if (now_ns() - start > Patience) return -1;
    arrival.came = 0;
    return arrival.at;
  });
  disable_lpt_irq();
  component.MaskInterrupt(LptIrq);
  component.SetOnHwInterrupt({});
  report_latency(Group, "ferrox OnHwInterrupt", latencies);
}

void ppdev_interrupt_latency(const Budget& budget) {
  if (!CHECK(hold_lpt_ports())) return;
  int parport = open("/dev/parport0", O_RDWR | O_CLOEXEC);
  if (!CHECK(parport >= 0)) return;
  // Claiming the port enables its interrupt and makes ppdev count them.
  if (CHECK(ioctl(parport, PPCLAIM) == 0)) {
    enable_lpt_irq();
    int cleared = 0;
    ioctl(parport, PPCLRIRQ, &cleared);
    auto latencies = samples_of(budget.interrupts, [&](std::int64_t) -> std::int64_t {
      pollfd readable{parport, POLLIN, 0};
      if (poll(&readable, 1, static_cast<int>(Patience / 1'000'000)) != 1) return -1;
      std::int64_t learned = now_ns();
      ioctl(parport, PPCLRIRQ, &cleared);
      return learned;
    });
    disable_lpt_irq();
    ioctl(parport, PPRELEASE);
    report_latency(Group, "ppdev poll", latencies);
  }
  close(parport);
}

}  // namespace peers
