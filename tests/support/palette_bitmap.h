// SPDX-License-Identifier: MIT
// Reading the 24 by 24, 4-bit palette bitmap in tests: header fields, colours and pixels.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace palette_bitmap {

constexpr int Side = 24;
constexpr std::size_t ColourTable = 40;  // after the header
constexpr std::size_t Pixels = ColourTable + 16 * 4;
constexpr std::size_t RowBytes = 12;

// A little-endian header field.
inline std::uint32_t Field(std::span<const std::uint8_t> bitmap, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bitmap[at + i];
  return value;
}

// The colour index of a pixel; rows are stored bottom row first, two pixels a byte, left one high.
inline int Index(std::span<const std::uint8_t> bitmap, int x, int y_from_top) {
  std::uint8_t packed = bitmap[Pixels + (Side - 1 - y_from_top) * RowBytes + x / 2];
  return x % 2 == 0 ? packed >> 4 : packed & 0x0F;
}

// Red, green, blue of a colour table entry (stored blue, green, red, reserved).
inline std::array<std::uint8_t, 3> Rgb(std::span<const std::uint8_t> bitmap, int index) {
  const std::uint8_t* entry = &bitmap[ColourTable + 4 * index];
  return {entry[2], entry[1], entry[0]};
}

}  // namespace palette_bitmap
