// SPDX-License-Identifier: MIT
// The descriptor table's writer side.
#include "ferrox/interpose/descriptor_table.h"

namespace ferrox::interpose {

void DescriptorTable::set(int fd, std::uint32_t file) {
  std::atomic<Chunk*>& slot = chunks_[static_cast<unsigned>(fd) / ChunkSize];
  Chunk* chunk = slot.load(std::memory_order_acquire);
  if (!chunk) {
    if (file == None) return;
    chunk = new Chunk;
    slot.store(chunk, std::memory_order_release);
  }
  chunk->files[static_cast<unsigned>(fd) % ChunkSize].store(file, std::memory_order_relaxed);
}

}  // namespace ferrox::interpose
