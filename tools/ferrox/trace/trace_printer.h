// SPDX-License-Identifier: MIT
// What `ferrox trace` prints of each event: a line for people, with the hardware's names, or a JSON
// object per line. Events come in the order they were finished; they are printed in the order they
// were made (a request before the signal that came during it and the requests of its handler). In
// the lines for people a run of identical calls (a program polling a port, a strobe's busy wait)
// is one line, with how many calls it holds, unless every call is asked for.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "ferrox/recording/recording.h"

namespace ferrox_tool {

class TracePrinter {
 public:
  struct Shape {
    bool json = false;
    bool every_call = false;  // no run of identical calls collapsed into one line
    std::string line_prefix;  // before each line, to tell the trace from what shares its stream
  };
  TracePrinter(std::ostream& out, Shape shape, bool on_virtual_pc, std::uint64_t started)
      : out_(out), shape_(std::move(shape)), on_virtual_pc_(on_virtual_pc), started_(started) {}

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
  // A line for people, held until the next one shows whether it repeats.
  struct Line {
    std::string start;  // the time and the call's place
    std::string what;   // the rest, which identical calls share
    std::string after;  // a line of its own that follows
    bool is_call = false;
    std::uint32_t last_sequence = 0;
    std::size_t calls = 1;
  };
  void print_ready(Process& process);
  void print(const ferrox::recording::Event& event);
  void hold(Line line);
  void write_held();

  std::ostream& out_;
  Shape shape_;
  bool on_virtual_pc_;
  std::uint64_t started_;
  // By process and program image (an exec'd image counts its calls from 0 again).
  std::map<std::pair<std::int32_t, std::uint64_t>, Process> processes_;
  std::optional<Line> held_;
};

}  // namespace ferrox_tool
