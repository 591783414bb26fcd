// SPDX-License-Identifier: MIT
// What `ferrox trace` prints of each event: a line for people, with the hardware's names, or a JSON
// object per line. Events come in the order they were finished; they are printed in the order they
// were made (a request before the signal that came during it and the requests of its handler).
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <utility>

#include "ferrox/recording/recording.h"

namespace ferrox_tool {

class TracePrinter {
 public:
  TracePrinter(std::ostream& out, bool json, bool on_virtual_pc, std::uint64_t started)
      : out_(out), json_(json), on_virtual_pc_(on_virtual_pc), started_(started) {}

  void add(ferrox::recording::Event event);
  // Prints what is still held back (the calls of a process that ended in the middle of one).
  void finish();

 private:
  struct Process {
    std::uint32_t next_call = 0;
    // By (sequence, is call): a signal goes before the call of its sequence; signals that came
    // during one call keep the order they came in.
    std::multimap<std::pair<std::uint32_t, bool>, ferrox::recording::Event> held;
  };
  void print_ready(Process& process);
  void print(const ferrox::recording::Event& event);

  std::ostream& out_;
  bool json_;
  bool on_virtual_pc_;
  std::uint64_t started_;
  // By process and program image (an exec'd image counts its calls from 0 again).
  std::map<std::pair<std::int32_t, std::uint64_t>, Process> processes_;
};

}  // namespace ferrox_tool
