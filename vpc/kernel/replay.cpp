// SPDX-License-Identifier: MIT
// Answering from a recording.
#include "ferrox/vpc/kernel/replay.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/recording/event_decoding.h"
#include "ferrox/recording/inherited_pipe.h"
#include "ferrox/recording/recording_writer.h"
#include "ferrox/vpc/control.h"
#include "ferrox/vpc/kernel/device_node.h"
#include "ferrox/vpc/kernel/privilege.h"
#include "ferrox/vpc/kernel/user_memory.h"
#include "ferrox/vpc/platform/irq_controller.h"

namespace ferrox::vpc {

namespace {

using recording::Kind;

// A wait shorter than this in the recording may be the hardware's own pace, or the recording
// host's scheduling, rather than the program's; only longer ones are held to.
constexpr std::uint64_t TimingFloor = 50'000'000;

recording::Event live_call(Kind kind) {
  recording::Event event;
  event.head.kind = static_cast<std::uint16_t>(kind);
  event.head.time = recording::monotonic_ns();
  return event;
}

// A trapped port instruction as the trace layer writes it: code = width, argument = port, extra =
// elements.
recording::Event live_port_instruction(Kind kind, std::uint16_t port, unsigned width, std::uint32_t count) {
  recording::Event event = live_call(kind);
  event.head.code = width;
  event.head.argument = port;
  event.head.extra = count;
  return event;
}

bool same_call(const recording::Event& recorded, const recording::Event& live) {
  if (recorded.head.kind != live.head.kind || recorded.head.code != live.head.code) return false;
  recording::Decoded expected = recording::decode(recorded), came = recording::decode(live);
  if (expected.asked != came.asked) return false;
  return !expected.data_asked || std::ranges::equal(expected.data, came.data);
}

template <class Record>
Record as(const std::vector<std::uint8_t>& bytes) {
  Record record{};
  if (!bytes.empty()) std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
  return record;
}

std::string milliseconds(std::uint64_t ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(ns) / 1e6);
  return text;
}

// The stopped replay's verdict, into the tool's pipe, or on standard error without one.
[[noreturn]] void report_and_exit(const std::string& text) {
  std::string line = "replay: " + text + "\n";
  int fd = recording::inherited_pipe(VPC_REPLAY_REPORT_VARIABLE);
  [[maybe_unused]] ssize_t written = write(fd >= 0 ? fd : STDERR_FILENO, line.data(), line.size());
  _exit(EXIT_FAILURE);
}

Replay* replaying_at_exit = nullptr;
// A forked child inherits the check but not the replay's verdict, which is its parent's.
pid_t replaying_process = 0;

void check_finished_at_exit() {
  if (!replaying_at_exit || getpid() != replaying_process) return;
  if (std::optional<std::string> rest = replaying_at_exit->unfinished()) report_and_exit(*rest);
}

}  // namespace

ferrox::Result<ReplayOptions> replay_options(const char* loose) {
  ReplayOptions options;
  std::string rest = loose ? loose : "";
  while (!rest.empty()) {
    std::size_t comma = rest.find(',');
    std::string what = rest.substr(0, comma);
    rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    if (what == "timing") options.loose_timing = true;
    else if (what == "polling") options.loose_polling = true;
    else return ferrox::Error{"cannot match " + what + " loosely: timing or polling"};
  }
  return options;
}

void Replay::start(recording::Recording recording, ReplayOptions options, OnDivergence on_divergence) {
  recording_ = std::move(recording);
  options_ = options;
  on_divergence_ = on_divergence;
  next_ = 0;
  previous_ = nullptr;
  previous_live_end_ = 0;
  calls_ = 0;
  cookies_.clear();
  line_signals_.clear();
  divergence_.reset();
  node_.answer_from(this);
  if (on_divergence == OnDivergence::Exit && !replaying_at_exit) std::atexit(check_finished_at_exit);
  if (on_divergence == OnDivergence::Exit) {
    replaying_at_exit = this;
    replaying_process = getpid();
  }
}

void Replay::stop() {
  node_.answer_from(nullptr);
  if (replaying_at_exit == this) replaying_at_exit = nullptr;
}

const recording::Event* Replay::next_call() const {
  for (std::size_t index = next_; index < recording_.events.size(); ++index)
    if (recording_.events[index].is_call()) return &recording_.events[index];
  return nullptr;
}

std::optional<std::string> Replay::unfinished() const {
  if (divergence_) return std::nullopt;
  for (std::size_t index = next_; index < recording_.events.size(); ++index) {
    const recording::Event& event = recording_.events[index];
    if (!event.is_call()) continue;
    // Polls recorded after the program's last one are as good as made.
    if (options_.loose_polling && previous_ && recording::is_poll(*previous_) && same_call(*previous_, event)) continue;
    return "the program ended after " + std::to_string(calls_) + " calls; the recording goes on with call #" +
           std::to_string(event.head.sequence) + ": " + recording::describe(recording::decode(event), false);
  }
  return std::nullopt;
}

void Replay::diverge(const recording::Event& live, const std::string& why) {
  const recording::Event* expected = next_call();
  std::string text = "diverged at call #" + std::to_string(calls_) + (why.empty() ? "" : ", " + why) +
                     "\n  expected: " + (expected ? recording::describe(recording::decode(*expected), false) : "no more calls") +
                     "\n  came:     " + recording::describe(recording::decode(live), false);
  if (on_divergence_ == OnDivergence::Exit) report_and_exit(text);
  divergence_ = text;
}

std::optional<Replay::Matched> Replay::match(const recording::Event& live) {
  for (;;) {
    const recording::Event* expected = next_call();
    if (expected && same_call(*expected, live)) {
      // The program's own time between the end of one call and the start of the next.
      std::uint64_t previous_end = previous_ ? previous_->head.time + previous_->head.duration : 0;
      std::uint64_t recorded_gap = previous_ && expected->head.time > previous_end ? expected->head.time - previous_end : 0;
      std::uint64_t live_gap = live.head.time - previous_live_end_;
      if (!options_.loose_timing && recorded_gap >= TimingFloor && 2 * live_gap < recorded_gap) {
        diverge(live, "too soon: " + milliseconds(live_gap) + " after the call before it, recorded " +
                          milliseconds(recorded_gap) + " after");
        return std::nullopt;
      }
      next_ = static_cast<std::size_t>(expected - recording_.events.data()) + 1;
      return Matched{expected, false};
    }
    bool polled_before = options_.loose_polling && previous_ && recording::is_poll(*previous_);
    if (polled_before && same_call(*previous_, live)) return Matched{previous_, true};
    if (!(polled_before && expected && same_call(*previous_, *expected))) {
      diverge(live);
      return std::nullopt;
    }
    // A recorded repeat of the last poll that this run does not make: its signals still come.
    next_ = static_cast<std::size_t>(expected - recording_.events.data()) + 1;
    signal_after();
  }
}

// Only a signal the driver could send comes: the one this run asked for when it unmasked the
// line. A recording is outside input, and another signal (SIGSTOP, SIGKILL) would stop or end
// the program.
void Replay::signal_after() {
  for (; next_ < recording_.events.size() && !recording_.events[next_].is_call(); ++next_) {
    const recording::EventHead& signal = recording_.events[next_].head;
    auto asked = line_signals_.find(signal.argument);
    if (asked == line_signals_.end() || asked->second != static_cast<std::int32_t>(signal.code)) continue;
    auto cookie = cookies_.find(signal.value);
    irqs_.queue_signal(static_cast<int>(signal.code), cookie == cookies_.end() ? signal.value : cookie->second,
                       signal.argument);
  }
}

long Replay::answer(const Matched& matched) {
  ++calls_;
  previous_live_end_ = recording::monotonic_ns();
  if (!matched.again) {
    previous_ = matched.recorded;
    signal_after();
  }
  const recording::EventHead& recorded = matched.recorded->head;
  return recorded.result == -1 ? -recorded.error : recorded.result;
}

std::optional<long> Replay::open(int flags) {
  if (divergence_) return -EIO;
  recording::Event live = live_call(Kind::Open);
  live.head.code = static_cast<std::uint32_t>(flags);
  std::optional<Matched> matched = match(live);
  if (!matched) return -EIO;
  long result = answer(*matched);
  return is_error_result(result) ? std::optional<long>(result) : std::nullopt;
}

long Replay::close(long result) {
  if (divergence_) return result;
  recording::Event live = live_call(Kind::Close);
  std::optional<Matched> matched = match(live);
  return matched ? answer(*matched) : -EIO;
}

// Only what the driver writes goes back into the program's record: the value of a port read, the
// linear address of a map, the bytes of a window read, a PCI header.
void Replay::write_back(const recording::Event& recorded, std::uintptr_t argument, std::uint32_t size) {
  using namespace ferrox::Request;
  std::uint32_t code = recorded.head.code;
  std::size_t offset = 0;
  std::size_t length = std::min<std::size_t>(recorded.returned.size(), size);
  if (code == Map) {
    offset = offsetof(ferrox::TMemRec, LinearAddr);
    length = recorded.returned.size() >= offset + 4 ? 4 : 0;
  } else if (code == PciRead) {
    if (recorded.head.result != 1) length = 0;
  } else if (code != PortInB && code != PortInW && code != PortInL && code != ReadWindow) {
    length = 0;
  }
  if (length) copy_to_user(argument + offset, recorded.returned.data() + offset, length);
}

long Replay::request(int fd, std::uint32_t code, std::uintptr_t argument) {
  if (divergence_) return -EIO;
  recording::Event live = live_call(Kind::Request);
  live.head.fd = fd;
  live.head.code = code;
  std::uint32_t count = 0;
  if (code == ferrox::Request::ReadWindow || code == ferrox::Request::WriteWindow)
    copy_from_user(&count, argument + offsetof(ferrox::TMemRec, Count), sizeof count);
  if (ferrox::RecordSize(code, count) == 0) live.head.argument = static_cast<std::uint32_t>(argument);
  live.sent.resize(recording::sent_record_size(code, count));
  if (!copy_from_user(live.sent.data(), argument, live.sent.size())) live.sent.clear();
  std::optional<Matched> matched = match(live);
  if (!matched) return -EIO;
  write_back(*matched->recorded, argument, recording::returned_record_size(code, count));
  if (code == ferrox::Request::IrqUnmask && !matched->again) {
    auto unmask = as<ferrox::TIrqRequest>(live.sent);
    cookies_[as<ferrox::TIrqRequest>(matched->recorded->sent).Component] = unmask.Component;
    line_signals_[unmask.Irq] = unmask.SignalNumber;
  }
  return answer(*matched);
}

int Replay::privilege_call(recording::Event live, const std::function<int()>& grant) {
  if (divergence_) {
    errno = EIO;
    return -1;
  }
  std::optional<Matched> matched = match(live);
  long result = matched ? answer(*matched) : -EIO;
  if (result == 0) grant();
  if (result == 0) return 0;
  errno = static_cast<int>(-result);
  return -1;
}

int Replay::iopl(int level) {
  recording::Event live = live_call(Kind::Iopl);
  live.head.argument = static_cast<std::uint32_t>(level);
  return privilege_call(live, [&] { return privilege_.iopl(level); });
}

int Replay::ioperm(unsigned long from, unsigned long count, int turn_on) {
  recording::Event live = live_call(Kind::Ioperm);
  live.head.argument = static_cast<std::uint32_t>(from);
  live.head.value = static_cast<std::uint32_t>(count);
  live.head.extra = static_cast<std::uint32_t>(turn_on);
  return privilege_call(live, [&] { return privilege_.ioperm(from, count, turn_on); });
}

std::vector<std::uint8_t> Replay::port_input(std::uint16_t port, unsigned width, std::uint32_t count) {
  if (divergence_) return {};
  std::optional<Matched> matched = match(live_port_instruction(Kind::PortIn, port, width, count));
  if (!matched) return {};
  const recording::Event& recorded = *matched->recorded;
  std::vector<std::uint8_t> elements = recorded.returned;
  if (elements.empty()) {  // a single transfer keeps its value in the head
    elements.resize(sizeof recorded.head.value);
    std::memcpy(elements.data(), &recorded.head.value, elements.size());
  }
  answer(*matched);
  return elements;
}

void Replay::port_output(std::uint16_t port, unsigned width, std::uint32_t count, std::uint32_t value,
                         std::span<const std::uint8_t> elements) {
  if (divergence_) return;
  recording::Event live = live_port_instruction(Kind::PortOut, port, width, count);
  live.head.value = value;
  live.sent.assign(elements.begin(), elements.end());
  if (std::optional<Matched> matched = match(live)) answer(*matched);
}

}  // namespace ferrox::vpc
