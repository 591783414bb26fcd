// SPDX-License-Identifier: MIT
// The events of a recording decoded from their records: what the program asked, what came back,
// and the names of the hardware concerned. The trace prints this, as text or JSON, and replay
// compares what a program asks with what the recorded program asked.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ferrox/recording/recording.h"

namespace ferrox::recording {

struct Field {
  std::string name;
  std::uint64_t value = 0;
  int digits = 0;  // hexadecimal with this many digits; 0: decimal

  friend bool operator==(const Field&, const Field&) = default;
};

struct Decoded {
  std::string operation;        // "port in", "mem read", "pci write", "irq unmask", "signal", ...
  std::vector<Field> asked;     // what the program chose: a replayed program must ask the same
  std::vector<Field> answered;  // what came back
  std::vector<Field> context;   // what differs from run to run: the process, the cookie, the descriptor
  std::span<const std::uint8_t> data;  // bytes a window or string transfer moved
  bool data_asked = false;             // written by the program (else read by it)
  bool failed = false;
  int error = 0;     // errno of a failed call
  std::string note;  // the hardware's names
};

// `event` must outlive the result, whose data points into it.
Decoded decode(const Event& event);

// Whether a read that a program may repeat while it polls (a port or PCI register read).
bool is_poll(const Event& event);

// One line: "port in port=0x379 width=1 -> value=0xdf" with the data's first bytes, without the note.
std::string describe(const Decoded& decoded, bool with_answer = true);

}  // namespace ferrox::recording
