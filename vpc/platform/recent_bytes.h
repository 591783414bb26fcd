// SPDX-License-Identifier: MIT
// The bytes a device has taken (a printer's paper, a FIFO's writes), kept for tests to read: all of
// them while there are few, and the newest of them, at least Bound, once there are many, so that a
// program that runs for ever keeps a bounded amount.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ferrox::vpc {

class RecentBytes {
 public:
  static constexpr std::size_t Bound = std::size_t{1} << 20;

  void push(std::uint8_t byte) {
    if (bytes_.size() == 2 * Bound) bytes_.erase(bytes_.begin(), bytes_.begin() + Bound);
    bytes_.push_back(byte);
    ++total_;
  }
  // The bytes kept, oldest first, and how many were taken in all.
  const std::vector<std::uint8_t>& kept() const { return bytes_; }
  std::uint64_t total() const { return total_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t total_ = 0;
};

}  // namespace ferrox::vpc
