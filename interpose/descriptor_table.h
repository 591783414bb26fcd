// SPDX-License-Identifier: MIT
// Which descriptor numbers of the process name a file of the device node, and which one. Every
// close, ioctl and dup of the program asks, whatever the descriptor, so the question is answered
// without a lock or a system call: one or two loads. Only the interposer that keeps the table (the
// virtual PC's device node, the trace layer) writes it.
//
// The table covers descriptors below Limit, the kernel's default ceiling on descriptor numbers.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace ferrox::interpose {

class DescriptorTable {
 public:
  static constexpr int Limit = 1 << 20;
  // What a descriptor names: no file of the node, a file by its id (1 and up), or Closed: it
  // named one until it was closed, and may have been reused for anything since.
  static constexpr std::uint32_t None = 0;
  static constexpr std::uint32_t Closed = 0xFFFFFFFF;

  std::uint32_t at(int fd) const {
    if (fd < 0 || fd >= Limit) return None;
    const Chunk* chunk = chunks_[static_cast<unsigned>(fd) / ChunkSize].load(std::memory_order_acquire);
    return chunk ? chunk->files[static_cast<unsigned>(fd) % ChunkSize].load(std::memory_order_relaxed) : None;
  }
  // Whether the descriptor names a live file of the node.
  bool is_file(int fd) const {
    std::uint32_t file = at(fd);
    return file != None && file != Closed;
  }

  // fd must be below Limit.
  void set(int fd, std::uint32_t file);

  // Calls visit(fd, file) for each descriptor from `first` on that names a live file.
  template <class Visit>
  void for_each_file(int first, Visit visit) const {
    for (int fd = first < 0 ? 0 : first; fd < Limit; ++fd) {
      const Chunk* chunk = chunks_[static_cast<unsigned>(fd) / ChunkSize].load(std::memory_order_acquire);
      if (!chunk) {
        fd |= ChunkSize - 1;  // the whole chunk names nothing
        continue;
      }
      std::uint32_t file = chunk->files[static_cast<unsigned>(fd) % ChunkSize].load(std::memory_order_relaxed);
      if (file != None && file != Closed) visit(fd, file);
    }
  }

 private:
  static constexpr int ChunkSize = 4096;
  struct Chunk {
    std::array<std::atomic<std::uint32_t>, ChunkSize> files{};
  };
  // Allocated on the first descriptor in its range and kept for the life of the process.
  std::array<std::atomic<Chunk*>, Limit / ChunkSize> chunks_{};
};

}  // namespace ferrox::interpose
