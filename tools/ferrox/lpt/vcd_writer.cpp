// SPDX-License-Identifier: MIT
// Writing the Value Change Dump. Written here rather than taken from a library: the format is a
// dozen lines of text, and no packaged library writes it.
#include "tools/ferrox/lpt/vcd_writer.h"

#include <fmt/format.h>

#include <algorithm>

namespace ferrox_tool {

namespace {

// Each wire's short identifier: printable characters from '!' on.
char identifier(int pin) { return static_cast<char>('!' + pin - 1); }

std::string wire_name(int pin) { return fmt::format("pin{:02}_{}", pin, PinSignalNames[pin]); }

void write_changes(std::ostream& out, const PinSample* before, const PinSample& now) {
  for (int pin = 1; pin <= ferrox::LptPinCount; ++pin)
    if (!before || before->level(pin) != now.level(pin)) out << (now.level(pin) ? '1' : '0') << identifier(pin) << '\n';
}

}  // namespace

void write_vcd(std::ostream& out, const PinRecorder& recording) {
  out << "$version ferrox lpt capture $end\n";
  out << "$timescale 1 ns $end\n";
  // A scope is one word: "LPT1", "port_0xd000".
  std::string scope = recording.port_name();
  std::replace(scope.begin(), scope.end(), ' ', '_');
  out << fmt::format("$scope module {} $end\n", scope);
  for (int pin = 1; pin <= ferrox::LptPinCount; ++pin)
    out << fmt::format("$var wire 1 {} {} $end\n", identifier(pin), wire_name(pin));
  out << "$upscope $end\n$enddefinitions $end\n";
  const std::vector<PinSample>& samples = recording.samples();
  const PinSample* before = nullptr;
  for (const PinSample& sample : samples) {
    out << '#' << sample.nanoseconds << '\n';
    if (!before) out << "$dumpvars\n";
    write_changes(out, before, sample);
    if (!before) out << "$end\n";
    before = &sample;
  }
  // The end of the recording, so that viewers show the last levels for as long as they held.
  if (samples.empty() || recording.end_nanoseconds() > samples.back().nanoseconds)
    out << '#' << recording.end_nanoseconds() << '\n';
}

}  // namespace ferrox_tool
