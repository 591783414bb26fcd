// SPDX-License-Identifier: MIT
// Writing the events of a recording from inside the traced program, where a request may be made
// from a signal handler that interrupted another: no allocation, no lock a handler could wait on,
// and each event goes out whole while the thread's signals are blocked: into a file with one system
// call, into the tool's pipe as frames (trace_pipe.h) that no other process's writes come between.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "ferrox/recording/recording.h"

namespace ferrox::recording {

// CLOCK_MONOTONIC in ns, the clock of every event and of FileHead::started.
std::uint64_t monotonic_ns();

class RecordingWriter {
 public:
  // Events go to this descriptor from now on, as they are or, into the tool's pipe, in frames.
  enum class Framing : bool { None, Frames };
  void attach(int fd, Framing framing = Framing::None) {
    framed_.store(framing == Framing::Frames, std::memory_order_relaxed);
    fd_.store(fd, std::memory_order_release);
  }
  bool attached() const { return fd_.load(std::memory_order_acquire) >= 0; }
  int descriptor() const { return fd_.load(std::memory_order_acquire); }
  // The program closes the descriptor (or puts another file in its place): nothing more goes to it.
  void forget(int fd) {
    if (fd >= 0 && fd_.load(std::memory_order_acquire) == fd) fd_.store(-1);
  }

  // Fills in the size, the record sizes and, for a call made at head.time, its duration, and
  // writes the event; a descriptor that fails is
  // given up, so the traced program goes on as it would untraced.
  void write(EventHead head, std::span<const std::uint8_t> sent, std::span<const std::uint8_t> returned);

  // In a child just forked: the writer may have been held by another thread of the parent, one
  // the child does not have and that would never let it go; the child's events start free.
  void forked() { busy_.clear(std::memory_order_release); }

 private:
  std::atomic<int> fd_{-1};
  std::atomic<bool> framed_{false};
  // Held across one event, by one thread at a time (other threads of the program wait on it).
  std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
};

}  // namespace ferrox::recording
