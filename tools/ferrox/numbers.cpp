// Parsing numbers and register expressions.
#include "tools/ferrox/numbers.h"

#include <fmt/format.h>

#include <charconv>

namespace ferrox_tool {

namespace {

constexpr unsigned PciConfigSize = 256;

std::optional<std::uint64_t> parse_digits(std::string_view digits, int base) {
  std::uint64_t value = 0;
  if (digits.empty()) return {};
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (error != std::errc{} || end != digits.data() + digits.size()) return {};
  return value;
}

bool has_hex_prefix(std::string_view text) {
  return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

std::optional<unsigned> width_of(char suffix) {
  switch (suffix) {
    case 'b': case 'B': return 1;
    case 'w': case 'W': return 2;
    case 'l': case 'L': return 4;
    default: return {};
  }
}

}  // namespace

std::optional<std::uint64_t> parse_number(std::string_view text) {
  if (has_hex_prefix(text)) return parse_digits(text.substr(2), 16);
  return parse_digits(text, 10);
}

CLI::Validator number_in(std::uint64_t min, std::uint64_t max, const std::string& what) {
  // Small ranges (lines, pins, bytes) read best in decimal, addresses and ports in hexadecimal.
  std::string range = max < 0x100 ? fmt::format("{}..{}", min, max) : fmt::format("{:#x}..{:#x}", min, max);
  return CLI::Validator(
      [min, max, what, range](std::string& text) -> std::string {
        std::optional<std::uint64_t> value = parse_number(text);
        if (!value) return fmt::format("{} \"{}\" is not a number (decimal, or hexadecimal with 0x)", what, text);
        if (*value < min || *value > max) return fmt::format("{} {} is outside {}", what, text, range);
        text = std::to_string(*value);
        return {};
      },
      range);
}

CLI::Validator number_up_to(std::uint64_t max, const std::string& what) { return number_in(0, max, what); }

CLI::Validator register_expression(bool value_wanted) {
  return CLI::Validator(
      [value_wanted](std::string& text) {
        std::string error;
        parse_register(text, value_wanted, error);
        return error;
      },
      value_wanted ? "REG.b|.w|.l=VALUE" : "REG.b|.w|.l");
}

std::string hex(std::uint64_t value, unsigned bytes) { return fmt::format("{:0{}x}", value, 2 * bytes); }

std::optional<RegisterExpression> parse_register(std::string_view text, bool value_wanted, std::string& error) {
  std::size_t equals = text.find('=');
  if (value_wanted != (equals != std::string_view::npos)) {
    error = value_wanted ? fmt::format("\"{}\" gives no value: write REG.w=VALUE", text)
                         : fmt::format("\"{}\": a read takes no value", text);
    return {};
  }
  std::string_view name = text.substr(0, equals);
  std::size_t dot = name.rfind('.');
  std::optional<unsigned> width;
  if (dot != std::string_view::npos && dot + 2 == name.size()) width = width_of(name[dot + 1]);
  if (!width) {
    error = fmt::format("\"{}\": a register is written REG.b, REG.w or REG.l", name);
    return {};
  }
  std::string_view offset_text = name.substr(0, dot);
  if (has_hex_prefix(offset_text)) offset_text.remove_prefix(2);
  std::optional<std::uint64_t> offset = parse_digits(offset_text, 16);
  if (!offset || *offset >= PciConfigSize) {
    error = fmt::format("register \"{}\" is not a hexadecimal offset 0..ff", name.substr(0, dot));
    return {};
  }
  if (*offset % *width != 0) {
    error = fmt::format("register {:02x} is not aligned to its width of {} bytes", *offset, *width);
    return {};
  }
  RegisterExpression expression{static_cast<unsigned>(*offset), *width, {}};
  if (!value_wanted) return expression;
  std::string_view value_text = text.substr(equals + 1);
  if (has_hex_prefix(value_text)) value_text.remove_prefix(2);
  std::optional<std::uint64_t> value = parse_digits(value_text, 16);
  if (!value || *value >> (8 * *width) != 0) {
    error = fmt::format("value \"{}\" is not a hexadecimal number that fits in {} byte{}", text.substr(equals + 1), *width,
                        *width == 1 ? "" : "s");
    return {};
  }
  expression.value = static_cast<std::uint32_t>(*value);
  return expression;
}

}  // namespace ferrox_tool
