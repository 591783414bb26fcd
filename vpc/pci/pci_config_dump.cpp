// SPDX-License-Identifier: MIT
// Parsing configuration-space dumps.
#include "ferrox/vpc/pci/pci_function.h"

#include <charconv>
#include <sstream>

namespace ferrox::vpc {

namespace {

constexpr unsigned BytesPerRow = 16;

// A hexadecimal number of at most max_digits digits, the whole of text.
bool parse_hex(std::string_view text, unsigned max_digits, unsigned& value) {
  if (text.empty() || text.size() > max_digits) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return error == std::errc{} && end == text.data() + text.size();
}

// Fills config from one "offset: bytes" row, or says what is wrong with it.
std::string parse_row(const std::string& row, PciConfigBytes& config) {
  std::size_t colon = row.find(':');
  if (colon == std::string::npos) return "no \"offset:\" at the start";
  unsigned offset = 0;
  std::string_view head = std::string_view(row).substr(0, colon);
  head.remove_prefix(std::min(head.find_first_not_of(" \t"), head.size()));
  if (!parse_hex(head, 3, offset)) return "offset \"" + std::string(head) + "\" is not a hexadecimal offset";
  std::istringstream bytes(row.substr(colon + 1));
  std::string word;
  unsigned count = 0;
  for (; bytes >> word; ++count) {
    unsigned byte = 0;
    if (!parse_hex(word, 2, byte)) return "\"" + word + "\" is not a hexadecimal byte";
    if (count == BytesPerRow) return "more than 16 bytes";
    if (offset + count >= PciConfigSize) return "runs past the 4096-byte configuration space";
    config[offset + count] = static_cast<std::uint8_t>(byte);
  }
  return {};
}

}  // namespace

ferrox::Result<PciConfigBytes> parse_pci_config_dump(std::string_view rows) {
  PciConfigBytes config{};
  std::istringstream lines{std::string(rows)};
  std::string line;
  for (unsigned number = 1; std::getline(lines, line); ++number) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::string error = parse_row(line, config);
    if (!error.empty()) return ferrox::Error{"row " + std::to_string(number) + ": " + error};
  }
  return config;
}

}  // namespace ferrox::vpc
