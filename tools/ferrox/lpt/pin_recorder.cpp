// SPDX-License-Identifier: MIT
// Sampling the parallel port's lines.
#include "tools/ferrox/lpt/pin_recorder.h"

#include "ferrox/hwtypes/PcHardware.h"

namespace ferrox_tool {

const std::array<const char*, ferrox::LptPinCount + 1> PinSignalNames = {
    "",     "nStrobe", "D0",     "D1",    "D2",      "D3",      "D4",    "D5",     "D6",
    "D7",   "nAck",    "Busy",   "PError", "Select", "nAutoFd", "nFault", "nInit", "nSelectIn"};

bool PinSample::level(int pin) const { return ferrox::lpt::PinLevel(registers[ferrox::PinsPort[pin]], pin); }

std::size_t PinRecorder::change_count() const { return samples_.size() - 1; }

PinRecorder::PinRecorder(ParallelLines& port) : port_(port), port_name_(port.name()) { read_registers(); }

void PinRecorder::read_registers() {
  std::array<ferrox::Byte, 3> registers{};
  for (unsigned offset = 0; offset < registers.size(); ++offset)
    registers[offset] = port_.read_register(static_cast<ferrox::Byte>(offset));
  take(registers);
}

void PinRecorder::take_from_shadows() {
  take({port_.write_shadow(ferrox::lpt::Data), port_.read_shadow(ferrox::lpt::Status), port_.write_shadow(ferrox::lpt::Control)});
}

// The recording's time begins with its first sample.
void PinRecorder::take(const std::array<ferrox::Byte, 3>& registers) {
  auto now = std::chrono::steady_clock::now();
  if (samples_.empty()) start_ = now;
  end_ = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now - start_).count());
  if (samples_.empty() || samples_.back().registers != registers) samples_.push_back({end_, registers});
}

}  // namespace ferrox_tool
