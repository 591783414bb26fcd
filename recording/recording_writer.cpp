// SPDX-License-Identifier: MIT
// The async-signal-safe writer of events.
#include "ferrox/recording/recording_writer.h"

#include <errno.h>
#include <signal.h>
#include <sys/uio.h>
#include <time.h>

#include <algorithm>
#include <cstdint>

#include "ferrox/recording/trace_pipe.h"

namespace ferrox::recording {

std::uint64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

namespace {

// Writes every byte of the pieces, going on after a partial write or an interruption.
bool write_all(int fd, iovec* pieces, int count) {
  while (count > 0) {
    ssize_t written = writev(fd, pieces, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    auto left = static_cast<std::size_t>(written);
    while (count > 0 && left >= pieces->iov_len) {
      left -= pieces->iov_len;
      ++pieces;
      --count;
    }
    if (count > 0) {
      pieces->iov_base = static_cast<char*>(pieces->iov_base) + left;
      pieces->iov_len -= left;
    }
  }
  return true;
}

// The pieces as frames, each written with one call: the first marked as the start of the event.
bool write_frames(int fd, iovec* pieces, int count) {
  FrameHead frame{getpid(), 0, FrameStartsEvent};
  std::size_t offset = 0;  // into *pieces
  for (;;) {
    iovec parts[4] = {{&frame, sizeof frame}};
    int used = 1;
    std::size_t taken = 0;
    while (count > 0 && taken < FrameBytes - sizeof frame) {
      std::size_t take = std::min(pieces->iov_len - offset, FrameBytes - sizeof frame - taken);
      if (take > 0) parts[used++] = {static_cast<char*>(pieces->iov_base) + offset, take};
      taken += take;
      offset += take;
      if (offset == pieces->iov_len) ++pieces, --count, offset = 0;
    }
    if (taken == 0) return true;
    frame.size = static_cast<std::uint16_t>(taken);
    if (!write_all(fd, parts, used)) return false;
    frame.flags = 0;
  }
}

}  // namespace

void RecordingWriter::write(EventHead head, std::span<const std::uint8_t> sent, std::span<const std::uint8_t> returned) {
  int fd = fd_.load(std::memory_order_acquire);
  if (fd < 0) return;
  if (head.kind != static_cast<std::uint16_t>(Kind::Signal)) {
    std::uint64_t took = monotonic_ns() - head.time;
    head.duration = took > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(took);
  }
  head.sent_size = static_cast<std::uint32_t>(sent.size());
  head.returned_size = static_cast<std::uint32_t>(returned.size());
  head.size = static_cast<std::uint32_t>(sizeof head + sent.size() + returned.size());
  iovec pieces[] = {{&head, sizeof head},
                    {const_cast<std::uint8_t*>(sent.data()), sent.size()},
                    {const_cast<std::uint8_t*>(returned.data()), returned.size()}};
  int saved_errno = errno;
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  while (busy_.test_and_set(std::memory_order_acquire)) {
  }
  bool framed = framed_.load(std::memory_order_relaxed);
  if (!(framed ? write_frames(fd, pieces, 3) : write_all(fd, pieces, 3))) fd_.store(-1, std::memory_order_release);
  busy_.clear(std::memory_order_release);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = saved_errno;
}

}  // namespace ferrox::recording
