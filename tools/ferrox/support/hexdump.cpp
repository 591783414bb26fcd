// SPDX-License-Identifier: MIT
// The -x hexdump.
#include "tools/ferrox/support/hexdump.h"

#include <fmt/format.h>

namespace ferrox_tool {

namespace {

constexpr std::size_t RowBytes = 16;

std::uint64_t little_endian(std::span<const std::uint8_t> bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

}  // namespace

std::vector<std::uint64_t> elements_of(std::span<const std::uint8_t> bytes, unsigned element) {
  std::vector<std::uint64_t> values;
  for (std::size_t at = 0; at + element <= bytes.size(); at += element) values.push_back(little_endian(bytes.subspan(at, element)));
  return values;
}

void hexdump(std::ostream& out, std::uint64_t first, std::span<const std::uint8_t> bytes, unsigned label_digits,
             unsigned element) {
  for (std::size_t row = 0; row < bytes.size(); row += RowBytes) {
    std::string line = fmt::format("{:0{}x}:", first + row, label_digits);
    for (std::size_t at = row; at < row + RowBytes && at + element <= bytes.size(); at += element)
      line += fmt::format(" {:0{}x}", little_endian(bytes.subspan(at, element)), 2 * element);
    out << line << '\n';
  }
}

}  // namespace ferrox_tool
