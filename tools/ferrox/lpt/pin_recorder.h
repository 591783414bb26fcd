// SPDX-License-Identifier: MIT
// The 17 lines of a parallel port over time, as a logic analyzer records them: a
// timestamped sample of the three registers wherever a line changed.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "tools/ferrox/lpt/parallel_lines.h"

namespace ferrox_tool {

// The name of each pin by its function, as the parallel-port standard names the signals; a leading
// n marks a line that is active when low. Index 0 is unused.
extern const std::array<const char*, ferrox::LptPinCount + 1> PinSignalNames;

struct PinSample {
  std::uint64_t nanoseconds = 0;             // since the first sample
  std::array<ferrox::Byte, 3> registers{};  // data, status, control as the port holds them

  // The level on the pin, undoing the port's inversions: true for high.
  bool level(int pin) const;
};

class PinRecorder final {
 public:
  // Begins the recording with one sample read from the registers of the port.
  explicit PinRecorder(ParallelLines& port);

  // A sample read from the three registers (three port reads), as an analyzer samples.
  void read_registers();
  // A sample of what the program last wrote to the data and control registers and last read from
  // the status register: no access of its own, so it leaves a handshake's timing as it was.
  void take_from_shadows();

  // The first sample, then only those where some line changed; the recording ends at end_nanoseconds.
  const std::vector<PinSample>& samples() const { return samples_; }
  // The samples after the first.
  std::size_t change_count() const;
  std::uint64_t end_nanoseconds() const { return end_; }
  const std::string& port_name() const { return port_name_; }

 private:
  void take(const std::array<ferrox::Byte, 3>& registers);

  ParallelLines& port_;
  std::chrono::steady_clock::time_point start_;
  std::vector<PinSample> samples_;
  std::uint64_t end_ = 0;
  std::string port_name_;
};

}  // namespace ferrox_tool
