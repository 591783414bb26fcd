// SPDX-License-Identifier: MIT
// Replay: the device node answers the program from a recording instead of from the machine. Each
// call the program makes (open, close, request, iopl, ioperm, a trapped port instruction) must be the next one of the recording
// (what the program chose: ports, values written, addresses, registers, lines; not its process id,
// cookie or descriptor numbers); it gets the recorded answer, records and results alike, and the
// signals that came after that call in the recording come after it again, with the cookie this
// run's unmask request gave; of them only those a driver could send: on a line this run unmasked,
// the signal it unmasked the line with. The first call that differs is a divergence: its index, what was
// expected and what came.
//
// Loosely, on request:
//   timing   by default a call that the program makes less than half as long after the end of the
//            one before it as it did in the recording, where that was 50 ms or more, is a
//            divergence (a wait the hardware needs was left out); loose timing does not look at time
//   polling  a port or PCI register read repeated more often than recorded gets the last answer
//            again, and recorded repeats that the program does not make are passed over
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ferrox/common/Result.h"
#include "ferrox/recording/recording.h"
#include "ferrox/vpc/Export.h"

namespace ferrox::vpc {

class DeviceNode;
class IrqController;
class Privilege;

struct ReplayOptions {
  bool loose_timing = false;
  bool loose_polling = false;
};

// "timing,polling", or any of them; an error names what is not known.
VPC_API ferrox::Result<ReplayOptions> replay_options(const char* loose);

// What to do at a divergence: stop the program (a replay the environment asked for, reported
// into the pipe or on standard error), or keep it for a test and fail every call from there on.
enum class OnDivergence { Exit, Keep };

class VPC_API Replay {
 public:
  Replay(DeviceNode& node, IrqController& irqs, Privilege& privilege) : node_(node), irqs_(irqs), privilege_(privilege) {}
  Replay(const Replay&) = delete;
  Replay& operator=(const Replay&) = delete;

  void start(recording::Recording recording, ReplayOptions options, OnDivergence on_divergence);
  void stop();

  // The first divergence, "call #17: expected ..., came ...".
  const std::optional<std::string>& divergence() const { return divergence_; }
  // What the recording still expects, or nothing when the program made every call of it.
  std::optional<std::string> unfinished() const;

  // The node's calls, answered. open gives the recorded failure, or nothing to open the file.
  std::optional<long> open(int flags);
  long close(long result);
  long request(int fd, std::uint32_t code, std::uintptr_t argument);
  // iopl and ioperm in the C library's convention; the privilege is granted as recorded.
  int iopl(int level);
  int ioperm(unsigned long from, unsigned long count, int turn_on);
  // Port instructions the program executes itself, which the virtual PC traps. An input is answered
  // with the recorded elements (the value of a single transfer; nothing at a divergence); an output
  // is checked with its value (single) or the elements it wrote.
  std::vector<std::uint8_t> port_input(std::uint16_t port, unsigned width, std::uint32_t count);
  void port_output(std::uint16_t port, unsigned width, std::uint32_t count, std::uint32_t value,
                   std::span<const std::uint8_t> elements);

 private:
  struct Matched {
    const recording::Event* recorded;
    bool again;  // a poll repeated: the last call's answer once more
  };

  const recording::Event* next_call() const;
  // The recorded call the live one is; nothing at a divergence.
  std::optional<Matched> match(const recording::Event& live);
  void diverge(const recording::Event& live, const std::string& why = "");
  // The recorded call's result, kernel style; its signals are queued.
  long answer(const Matched& matched);
  void signal_after();
  void write_back(const recording::Event& recorded, std::uintptr_t argument, std::uint32_t size);
  int privilege_call(recording::Event live, const std::function<int()>& grant);

  DeviceNode& node_;
  IrqController& irqs_;
  Privilege& privilege_;
  recording::Recording recording_;
  ReplayOptions options_;
  OnDivergence on_divergence_ = OnDivergence::Keep;
  std::size_t next_ = 0;                        // the next event of the recording
  const recording::Event* previous_ = nullptr;      // the call matched last
  std::uint64_t previous_live_end_ = 0;       // when this run's last call was answered
  std::size_t calls_ = 0;                       // the program's, so far
  std::map<std::uint32_t, std::uint32_t> cookies_;  // recorded cookie -> this run's
  std::map<std::uint32_t, std::int32_t> line_signals_;  // line -> the signal this run unmasked it with
  std::optional<std::string> divergence_;
};

}  // namespace ferrox::vpc
