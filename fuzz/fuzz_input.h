// SPDX-License-Identifier: MIT
// The fuzzer's bytes read as a series of choices. Past the end every choice is 0, so any input,
// the empty one included, is a valid series.
#pragma once

#include <cstddef>
#include <cstdint>

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return position_ >= size_; }

  std::uint8_t byte() { return empty() ? 0 : data_[position_++]; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
  std::uint32_t u32() { return u16() | static_cast<std::uint32_t>(u16()) << 16; }
  bool flag() { return byte() & 1; }
  // 0 .. count - 1, for a count of at most 256.
  unsigned below(unsigned count) { return count ? byte() % count : 0; }

  // One of the values, or (for the last choice) whatever the input gives.
  template <class T, std::size_t N>
  T pick(const T (&values)[N], T (FuzzInput::*any)() = nullptr) {
    unsigned choice = below(any ? N + 1 : N);
    return choice < N ? values[choice] : (this->*any)();
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};
