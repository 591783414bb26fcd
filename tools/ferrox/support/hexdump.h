// SPDX-License-Identifier: MIT
// Bytes in the layout `lspci -x` prints configuration space in: sixteen bytes a row, lower-case
// hexadecimal, each row labelled with the offset or address of its first byte.
//
//   00: 86 80 37 12 06 00 80 02 02 00 00 06 00 00 00 00
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <vector>

namespace ferrox_tool {

// first: the label of bytes[0]; label_digits: its width in hexadecimal digits; element: bytes per
// value shown (1, 2, 4 or 8), each element printed as one little-endian number.
void hexdump(std::ostream& out, std::uint64_t first, std::span<const std::uint8_t> bytes, unsigned label_digits,
             unsigned element = 1);

// The bytes as little-endian values of element bytes each, as the hexdump shows them.
std::vector<std::uint64_t> elements_of(std::span<const std::uint8_t> bytes, unsigned element);

}  // namespace ferrox_tool
