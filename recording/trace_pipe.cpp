// SPDX-License-Identifier: MIT
// Joining the frames of the trace pipe into events.
#include "ferrox/recording/trace_pipe.h"

#include <cstring>
#include <string>

namespace ferrox::recording {

void TracePipeReader::add(std::span<const std::uint8_t> bytes) {
  frames_.insert(frames_.end(), bytes.begin(), bytes.end());
  std::size_t used = 0;
  while (!broken_ && frames_.size() - used >= sizeof(FrameHead)) {
    FrameHead frame;
    std::memcpy(&frame, frames_.data() + used, sizeof frame);
    if (frame.size == 0 || frame.size > FrameBytes - sizeof frame) {
      broken_ = ferrox::Error{"the trace holds a frame of " + std::to_string(frame.size) + " bytes"};
      break;
    }
    if (frames_.size() - used < sizeof frame + frame.size) break;
    add_frame(frame, std::span(frames_).subspan(used + sizeof frame, frame.size));
    used += sizeof frame + frame.size;
  }
  frames_.erase(frames_.begin(), frames_.begin() + static_cast<std::ptrdiff_t>(used));
}

void TracePipeReader::add_frame(const FrameHead& frame, std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t>& pending = processes_[frame.process];
  bool starts = frame.flags & FrameStartsEvent;
  // A process replaced by exec, or killed, while it wrote an event leaves that event cut off.
  if (starts != pending.empty()) {
    broken_ = ferrox::Error{"the trace holds an event of process " + std::to_string(frame.process) + " cut off"};
    return;
  }
  pending.insert(pending.end(), bytes.begin(), bytes.end());
  take_events(pending);
}

void TracePipeReader::take_events(std::vector<std::uint8_t>& pending) {
  std::size_t used = 0;
  while (!broken_) {
    Event event;
    ferrox::Result<std::size_t> read = read_event(std::span(pending).subspan(used), event, "the trace");
    if (!read) broken_ = read.error();
    if (!read || *read == 0) break;
    each_(std::move(event), std::span(pending).subspan(used, *read));
    used += *read;
  }
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
}

ferrox::Status TracePipeReader::end() const {
  if (broken_) return *broken_;
  bool whole = frames_.empty();
  for (const auto& [process, pending] : processes_) whole = whole && pending.empty();
  if (!whole) return ferrox::Error{"the trace ends inside an event"};
  return ferrox::Done{};
}

}  // namespace ferrox::recording
