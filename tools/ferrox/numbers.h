// Numbers on the command line: "0x" and hexadecimal digits, or decimal digits; and the setpci
// register expressions "REG.w" and "REG.w=VALUE".
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ferrox_tool {

// "0x1f" or "31"; nothing else (no sign, no octal, no trailing text). Values above 64 bits fail.
std::optional<std::uint64_t> parse_number(std::string_view text);

// An option transform that accepts a number of at most max and hands CLI11 its decimal form;
// what names the thing in messages ("port", "address").
CLI::Validator number_up_to(std::uint64_t max, const std::string& what);
CLI::Validator number_in(std::uint64_t min, std::uint64_t max, const std::string& what);

// "0x1f" with enough digits for a value of bytes bytes: "1f", "001f", "0000001f".
std::string hex(std::uint64_t value, unsigned bytes);

// A register of PCI configuration space as setpci names it: hexadecimal offset and width.
struct RegisterExpression {
  unsigned offset = 0;
  unsigned width = 1;  // 1, 2 or 4 bytes: .b, .w, .l
  std::optional<std::uint32_t> value;  // after "=", hexadecimal as setpci takes it
};

// Parses "REG.b|.w|.l" or, with value_wanted, "REG.b|.w|.l=VALUE". Checks that the register lies
// in the 256-byte space, is aligned to its width, and that the value fits the width; error says
// what is wrong otherwise.
std::optional<RegisterExpression> parse_register(std::string_view text, bool value_wanted, std::string& error);

// An option check that the text is such an expression.
CLI::Validator register_expression(bool value_wanted);

}  // namespace ferrox_tool
