// SPDX-License-Identifier: MIT
// The interrupt's arrival times, taken inside the handler of signal 44 and read by the measuring
// loop.
#include "tools/ferrox/latency/interrupt_latency.h"

#include <fmt/format.h>

#include <atomic>
#include <functional>

#include "ferrox/hwtypes/PcHardware.h"
#include "tools/ferrox/latency/statistics.h"
#include "tools/ferrox/lpt/pin_recorder.h"

namespace ferrox_tool {

namespace {

constexpr ferrox::Byte AcknowledgePin = ferrox::lpt::AcknowledgePin;
constexpr ferrox::Byte WireCandidates[] = {2, 3, 4, 5, 6, 7, 8, 9, 14, 16, 17};  // data, then control
constexpr ferrox::Byte TimerLine = 0;
constexpr unsigned LoopbackSamples = 1000;
constexpr unsigned TimerSamples = 40;
constexpr int WarmUpInterrupts = 3;
constexpr std::int64_t Patience = 1'000'000'000;  // ns: an interrupt later than this is lost
// nInit high, nSelectIn asserted, the strobe released, the port's interrupt enabled.
constexpr ferrox::Byte ControlSelected = ferrox::lpt::Init | ferrox::lpt::SelectIn | ferrox::lpt::IrqEnable;

// OnHwInterrupt's record: the time of each interrupt, up to its capacity. The handler only reads
// the clock and stores (both async-signal-safe); the count, published after the time, tells the
// loop that a time is there.
class Arrivals {
 public:
  explicit Arrivals(std::size_t capacity) : times_(capacity) {}

  void OnIrq(ferrox::Word) {
    std::size_t arrived = count_.load(std::memory_order_relaxed);
    if (arrived == times_.size()) return;
    times_[arrived] = monotonic_ns();
    count_.store(arrived + 1, std::memory_order_release);
  }

  std::size_t count() const { return count_.load(std::memory_order_acquire); }
  std::int64_t time(std::size_t arrival) const { return times_[arrival]; }
  void clear() { count_.store(0, std::memory_order_release); }

 private:
  std::vector<std::int64_t> times_;
  std::atomic<std::size_t> count_ = 0;
};

// The handler and the line, for one measurement: given back on every way out, so the handler never
// outlives the arrivals it points at.
class Listening {
 public:
  Listening(ferrox::TFerrox32& component, ferrox::Byte line, Arrivals& arrivals) : component_(component), line_(line) {
    component_.SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&Arrivals::OnIrq>(&arrivals));
    component_.UnmaskInterrupt(line_);
  }
  ~Listening() {
    component_.MaskInterrupt(line_);
    component_.SetOnHwInterrupt({});
  }
  Listening(const Listening&) = delete;
  Listening& operator=(const Listening&) = delete;

  ferrox::Status unmasked() const {
    if (component_.fGetMasked(line_)) return ferrox::Error{fmt::format("the driver did not unmask IRQ line {}", line_)};
    return ferrox::Done{};
  }

 private:
  ferrox::TFerrox32& component_;
  ferrox::Byte line_;
};

bool acknowledge_follows(ferrox::TFerrox32& component, ferrox::Byte pin) {
  bool kept = component.fGetPin(pin), follows = true;
  for (bool level : {!kept, kept, !kept, kept}) {
    component.fSetPin(pin, level);
    follows = follows && component.fGetPin(AcknowledgePin) == level;
  }
  return follows;
}

// A port at a base no firmware uses is taken to interrupt on line 7, as most do.
ferrox::Byte line_of(ferrox::Word base) {
  std::uint8_t line = ferrox::lpt::ConventionalIrq(base);
  return line != 0 ? line : 7;
}

// How a sample's interrupt is raised and the port made ready for the next, and what a missing one
// says.
struct Trigger {
  std::function<void()> raise, lower;
  std::string missing;
};

// The wire's output raised and lowered again: each raise is a rising edge of nAck.
Trigger wire_trigger(ferrox::TFerrox32& component, const InterruptLatency& latency) {
  return {[&component, pin = latency.pin] { component.fSetPin(pin, true); },
          [&component, pin = latency.pin] { component.fSetPin(pin, false); },
          fmt::format("no interrupt on IRQ line {} within 1 s of raising nAck through pin {} ({}): is that the port's "
                      "line? (--irq)",
                      latency.line, latency.pin, PinSignalNames[latency.pin])};
}

// QEMU's emulated parallel port has no wires to loop back, but interrupts by itself on a control
// write that leaves the strobe released while its interrupt is enabled, and clears that interrupt
// when its status is read. A printer's port interrupts only when the printer acknowledges a byte.
Trigger control_write_trigger(ferrox::TFerrox32& component, const InterruptLatency& latency) {
  ferrox::Word base = component.LPTBase();
  return {[&component, base] { component.fSetPortB(static_cast<ferrox::Word>(base + ferrox::lpt::Control), ControlSelected); },
          [&component, base] { component.fGetPortB(static_cast<ferrox::Word>(base + ferrox::lpt::Status)); },
          fmt::format("no interrupt on IRQ line {} within 1 s of the control write that raised it before: is that "
                      "the port's line? (--irq)",
                      latency.line)};
}

// Waits, busy so that the handler finds the processor awake, for an interrupt raised at start.
bool arrived_within(const Arrivals& arrivals, std::int64_t start, std::int64_t patience) {
  while (arrivals.count() == 0 && monotonic_ns() - start < patience) {
  }
  return arrivals.count() != 0;
}

// Raises the interrupt, waiting for each one before making the port ready again.
ferrox::Status time_writes(ferrox::TFerrox32& component, InterruptLatency& latency, unsigned samples,
                           const Trigger& trigger) {
  trigger.lower();
  Arrivals arrivals(1);
  Listening listening(component, latency.line, arrivals);
  FERROX_TRY(listening.unmasked());
  component.fSetLPTIrq(true);
  ferrox::Status timed = ferrox::Done{};
  for (int sample = -WarmUpInterrupts; sample < static_cast<int>(samples) && timed; ++sample) {
    arrivals.clear();
    std::int64_t start = monotonic_ns();
    trigger.raise();
    if (!arrived_within(arrivals, start, Patience))
      timed = ferrox::Error{trigger.missing};
    else if (sample >= 0)
      latency.samples.push_back(static_cast<double>(arrivals.time(0) - start));
    trigger.lower();
  }
  component.fSetLPTIrq(false);
  return timed;
}

// Whether the selected port interrupts on the control write alone, given as long as a sample is (a
// loaded machine may take a while to run the handler); the control register is written back as it
// was.
bool interrupts_on_control_write(ferrox::TFerrox32& component, const InterruptLatency& latency) {
  ferrox::Word control = static_cast<ferrox::Word>(component.LPTBase() + ferrox::lpt::Control);
  ferrox::Byte kept = component.fGetPortB(control);
  Trigger trigger = control_write_trigger(component, latency);
  Arrivals arrivals(1);
  bool came = false;
  {
    Listening listening(component, latency.line, arrivals);
    if (listening.unmasked()) {
      component.fSetLPTIrq(true);
      trigger.lower();
      std::int64_t start = monotonic_ns();
      trigger.raise();
      came = arrived_within(arrivals, start, Patience);
      trigger.lower();
    }
  }
  component.fSetPortB(control, kept);
  component.fSetLPTIrq(false);
  return came;
}

ferrox::Status time_timer(ferrox::TFerrox32& component, InterruptLatency& latency, unsigned samples) {
  Arrivals arrivals(samples + 1);
  Listening listening(component, latency.line, arrivals);
  FERROX_TRY(listening.unmasked());
  std::size_t seen = 0;
  for (std::int64_t last = monotonic_ns(); seen < samples + 1;) {
    timespec pause{0, 1'000'000};
    nanosleep(&pause, nullptr);  // the tick's signal may end it early; the loop looks again
    if (arrivals.count() > seen) {
      seen = arrivals.count();
      last = monotonic_ns();
    } else if (monotonic_ns() - last > Patience) {
      return ferrox::Error{fmt::format("no loopback on the parallel port, and the timer's line {} gave {} interrupt{} "
                                       "before a second passed without one",
                                       latency.line, seen, seen == 1 ? "" : "s")};
    }
  }
  for (std::size_t tick = 1; tick < seen; ++tick)
    latency.samples.push_back(static_cast<double>(arrivals.time(tick) - arrivals.time(tick - 1)));
  return ferrox::Done{};
}

}  // namespace

ferrox::Status select_port(ferrox::TFerrox32& component, const InterruptPlan& plan) {
  if (!plan.port) return ferrox::Done{};
  if (*plan.port > component.LPTCount())
    return ferrox::Error{fmt::format("LPT{} is not installed (the BIOS data area lists {})", *plan.port,
                                     component.LPTCount())};
  component.fSetLPTNumber(static_cast<ferrox::Byte>(*plan.port));
  return ferrox::Done{};
}

ferrox::Byte find_wire_to_acknowledge(ferrox::TFerrox32& component) {
  for (ferrox::Byte pin : WireCandidates)
    if (acknowledge_follows(component, pin)) return pin;
  return 0;
}

ferrox::Result<InterruptLatency> measure_interrupt_latency(ferrox::TFerrox32& component, const InterruptPlan& plan) {
  InterruptLatency latency;
  unsigned samples = plan.samples.value_or(LoopbackSamples);
  if (component.LPTCount() > 0) {
    latency.port = component.LPTNumber();
    latency.line = static_cast<ferrox::Byte>(plan.line.value_or(line_of(component.LPTBase())));
    component.fSetLPTIrq(false);
    latency.pin = find_wire_to_acknowledge(component);
    if (latency.pin != 0) {
      latency.source = InterruptSource::Loopback;
      FERROX_TRY(time_writes(component, latency, samples, wire_trigger(component, latency)));
      return latency;
    }
    if (interrupts_on_control_write(component, latency)) {
      latency.source = InterruptSource::ControlWrite;
      FERROX_TRY(time_writes(component, latency, samples, control_write_trigger(component, latency)));
      return latency;
    }
  }
  latency.line = TimerLine;
  FERROX_TRY(time_timer(component, latency, plan.samples.value_or(TimerSamples)));
  return latency;
}

}  // namespace ferrox_tool
