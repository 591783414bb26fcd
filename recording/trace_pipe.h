// SPDX-License-Identifier: MIT
// The pipe from a traced program to the tool. Every process of the program (a parent and the
// children it forks) writes into the one pipe, and an event may be 64 KiB, more than a pipe takes
// whole: so each event goes as frames of at most PIPE_BUF bytes, which the kernel never splices
// into another writer's, each naming its process; the tool joins each process's frames again.
#pragma once

#include <limits.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "ferrox/common/Result.h"
#include "ferrox/recording/recording.h"

namespace ferrox::recording {

struct FrameHead {
  std::int32_t process;
  std::uint16_t size;   // of the event's bytes after this head
  std::uint16_t flags;  // FrameStartsEvent
};
static_assert(sizeof(FrameHead) == 8);

constexpr std::uint16_t FrameStartsEvent = 1;
// A frame whole, head included: a pipe writes at most this many bytes of one call at once.
constexpr std::size_t FrameBytes = PIPE_BUF;

// The events in the frames of the pipe, as they come.
class TracePipeReader {
 public:
  // Each whole event, with its bytes as the program wrote them.
  using EachEvent = std::function<void(Event, std::span<const std::uint8_t>)>;
  explicit TracePipeReader(EachEvent each) : each_(std::move(each)) {}

  void add(std::span<const std::uint8_t> bytes);
  // Once the program is gone: whether the pipe held whole events only.
  ferrox::Status end() const;

 private:
  void add_frame(const FrameHead& frame, std::span<const std::uint8_t> bytes);
  void take_events(std::vector<std::uint8_t>& pending);

  EachEvent each_;
  std::vector<std::uint8_t> frames_;  // the pipe's bytes not yet a whole frame
  std::unordered_map<std::int32_t, std::vector<std::uint8_t>> processes_;  // bytes not yet a whole event
  std::optional<ferrox::Error> broken_;
};

}  // namespace ferrox::recording
