// SPDX-License-Identifier: MIT
// ferrox irq: interrupts of one line as they arrive, and the driver's count of a line.
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <iostream>
#include <memory>

#include "tools/ferrox/command.h"
#include "tools/ferrox/support/numbers.h"

namespace ferrox_tool {

namespace {

constexpr unsigned MostInterrupts = 1'000'000;  // one watch waits for

struct IrqOptions {
  ferrox::Byte line = 0;
  std::optional<unsigned> count;    // stop after this many
  std::optional<double> timeout;    // seconds
  bool json = false;
};

double now() {
  timespec time{};
  clock_gettime(CLOCK_MONOTONIC, &time);
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

// OnHwInterrupt of the watch. It runs inside the handler of signal 44, so it only writes the line
// into a pipe (write is async-signal-safe; the write end never blocks) for the main loop to print.
class Watch {
 public:
  Watch() {
    if (pipe2(pipe_, O_CLOEXEC) == 0) fcntl(pipe_[1], F_SETFL, O_NONBLOCK);
  }
  ~Watch() {
    close(pipe_[0]);
    close(pipe_[1]);
  }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  bool ready() const { return pipe_[0] != -1; }

  // A full pipe drops the report (EAGAIN); errno is kept for the code the signal interrupted.
  void OnIrq(ferrox::Word irq) {
    int interrupted_errno = errno;
    auto line = static_cast<std::uint8_t>(irq);
    [[maybe_unused]] ssize_t written = write(pipe_[1], &line, 1);
    errno = interrupted_errno;
  }

  // Waits up to seconds (forever when negative) for the next interrupt; false on none.
  bool next(double seconds) {
    pollfd ready{pipe_[0], POLLIN, 0};
    // The interrupt's own signal may end the wait early (EINTR): the caller simply waits again.
    int waited = poll(&ready, 1, seconds < 0 ? -1 : static_cast<int>(seconds * 1000) + 1);
    std::uint8_t line = 0;
    return waited == 1 && read(pipe_[0], &line, 1) == 1;
  }

 private:
  int pipe_[2] = {-1, -1};
};

// One interrupt of a watch, as it comes.
struct InterruptSeen {
  ferrox::Byte line = 0;
  unsigned number = 0;  // from 1
  double seconds = 0;   // since the watch began
};

void write_text(std::ostream& out, const InterruptSeen& seen) {
  out << fmt::format("irq {}: interrupt {} at {:.3f} s\n", seen.line, seen.number, seen.seconds);
}

nlohmann::json json_of(const InterruptSeen& seen) {
  return {{"event", "interrupt"}, {"line", seen.line}, {"number", seen.number}, {"seconds", seen.seconds}};
}

// The end of a watch: how many came in how long.
struct WatchEnd {
  ferrox::Byte line = 0;
  unsigned interrupts = 0;
  double seconds = 0;
};

void write_text(std::ostream& out, const WatchEnd& end) {
  out << fmt::format("{} interrupt{} on line {} in {:.3f} s\n", end.interrupts, end.interrupts == 1 ? "" : "s",
                     end.line, end.seconds);
}

nlohmann::json json_of(const WatchEnd& end) {
  return {{"event", "end"}, {"line", end.line}, {"interrupts", end.interrupts}, {"seconds", end.seconds}};
}

// The driver's count of a line.
struct LineCount {
  ferrox::Byte line = 0;
  std::int32_t count = 0;
};

void write_text(std::ostream& out, const LineCount& counted) { out << counted.count << '\n'; }

nlohmann::json json_of(const LineCount& counted) { return {{"line", counted.line}, {"count", counted.count}}; }

ferrox::Status watch(ferrox::TFerrox32& component, const IrqOptions& options) {
  Watch watch;
  if (!watch.ready()) return ferrox::Error{"cannot watch: no pipe for the interrupt handler"};
  component.SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&Watch::OnIrq>(&watch));
  component.UnmaskInterrupt(options.line);
  if (component.fGetMasked(options.line)) {
    component.SetOnHwInterrupt({});  // the handler must not outlive the watch it points at
    return ferrox::Error{fmt::format("the driver did not unmask IRQ line {}", options.line)};
  }
  double start = now();
  unsigned seen = 0;
  while (!options.count || seen < *options.count) {
    double left = options.timeout ? *options.timeout - (now() - start) : -1;
    if (options.timeout && left <= 0) break;
    if (!watch.next(left)) continue;
    ++seen;
    show(InterruptSeen{options.line, seen, now() - start}, options.json);
    std::cout.flush();  // each interrupt as it comes, also into a pipe
  }
  component.MaskInterrupt(options.line);
  component.SetOnHwInterrupt({});
  show(WatchEnd{options.line, seen, now() - start}, options.json);
  if (options.count && seen < *options.count)
    return ferrox::Error{fmt::format("only {} of {} interrupts on line {} within {} s", seen, *options.count,
                                     options.line, *options.timeout)};
  return ferrox::Done{};
}

ferrox::Status count(ferrox::TFerrox32& component, const IrqOptions& options) {
  std::int32_t interrupts = component.InterruptCounter(options.line);
  if (interrupts < 0)
    return ferrox::Error{fmt::format("the driver did not answer the count of IRQ line {}", options.line)};
  show(LineCount{options.line, interrupts}, options.json);
  return ferrox::Done{};
}

void add_line(CLI::App* command, IrqOptions& options) {
  command->add_option("LINE", options.line, "IRQ line, 0..15")
      ->required()
      ->transform(number_in(0, ferrox::IrqLineCount - 1, "IRQ line"));
}

}  // namespace

void add_irq_commands(CLI::App& app, Command& selected) {
  CLI::App* irq = app.add_subcommand("irq", "Hardware interrupts");
  auto options = std::make_shared<IrqOptions>();

  CLI::App* watching = irq->add_subcommand("watch", "Unmask a line and print each interrupt as it arrives");
  add_line(watching, *options);
  watching->add_option("--count,-n", options->count, fmt::format("Stop after N interrupts, 1..{}", MostInterrupts))
      ->transform(number_in(1, MostInterrupts, "count"));
  watching->add_option("--timeout,-t", options->timeout, "Stop after S seconds")->check(seconds("timeout"));
  add_json_flag(watching, options->json);
  on_parsed(watching, selected, options, watch);

  CLI::App* counting = irq->add_subcommand("count", "Print the driver's count of interrupts on a line");
  add_line(counting, *options);
  add_json_flag(counting, options->json);
  on_parsed(counting, selected, options, count);
}

}  // namespace ferrox_tool
