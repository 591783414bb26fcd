// SPDX-License-Identifier: MIT
// Writing the Value Change Dump. Written here rather than taken from a library: the format is a
// dozen lines of text, and no packaged library writes it.
#include "tools/ferrox/lpt/vcd_writer.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

namespace ferrox_tool {

namespace {

// Each wire's short identifier: printable characters from '!' on.
char identifier(int pin) { return static_cast<char>('!' + pin - 1); }

std::string wire_name(int pin) { return fmt::format("pin{:02}_{}", pin, PinSignalNames[pin]); }

// "100 us": the tick as a count of 1, 10 or 100 and a unit.
std::string timescale_text(std::uint64_t tick_ns) {
  static constexpr std::array<const char*, 4> Units = {"ns", "us", "ms", "s"};
  std::size_t unit = 0;
  while (tick_ns >= 1000 && unit + 1 < Units.size()) {
    tick_ns /= 1000;
    ++unit;
  }
  return fmt::format("{} {}", tick_ns, Units[unit]);
}

void write_changes(std::ostream& out, const PinSample* before, const PinSample& now) {
  for (int pin = 1; pin <= ferrox::LptPinCount; ++pin)
    if (!before || before->level(pin) != now.level(pin)) out << (now.level(pin) ? '1' : '0') << identifier(pin) << '\n';
}

}  // namespace

std::uint64_t vcd_tick_for_rate(std::uint32_t rate) {
  std::uint64_t tick = 1;
  while (tick * 10 * rate <= 1'000'000'000ull) tick *= 10;
  return tick;
}

void write_vcd(std::ostream& out, const PinRecorder& recording, std::uint64_t tick_ns) {
  out << "$version ferrox lpt capture $end\n";
  out << "$timescale " << timescale_text(tick_ns) << " $end\n";
  // A scope is one word: "LPT1", "port_0xd000".
  std::string scope = recording.port_name();
  std::replace(scope.begin(), scope.end(), ' ', '_');
  out << fmt::format("$scope module {} $end\n", scope);
  for (int pin = 1; pin <= ferrox::LptPinCount; ++pin)
    out << fmt::format("$var wire 1 {} {} $end\n", identifier(pin), wire_name(pin));
  out << "$upscope $end\n$enddefinitions $end\n";
  const std::vector<PinSample>& samples = recording.samples();
  const PinSample* before = nullptr;
  // Samples closer than a tick (taken in a hurry after falling behind) each keep a tick of their own.
  std::uint64_t last = 0;
  auto ticks = [&](std::uint64_t nanoseconds) {
    std::uint64_t tick = (nanoseconds + tick_ns / 2) / tick_ns;
    last = before ? std::max(tick, last + 1) : tick;
    return last;
  };
  for (const PinSample& sample : samples) {
    out << '#' << ticks(sample.nanoseconds) << '\n';
    if (!before) out << "$dumpvars\n";
    write_changes(out, before, sample);
    if (!before) out << "$end\n";
    before = &sample;
  }
  // The end of the recording, so that viewers show the last levels for as long as they held.
  if (!samples.empty() && recording.end_nanoseconds() > samples.back().nanoseconds) {
    std::uint64_t end = (recording.end_nanoseconds() + tick_ns / 2) / tick_ns;
    if (end > last) out << '#' << end << '\n';
  }
}

}  // namespace ferrox_tool
