// SPDX-License-Identifier: MIT
// Parsing numbers, durations and access expressions.
#include "tools/ferrox/support/numbers.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>

namespace ferrox_tool {

using ferrox::Error;
using ferrox::Result;

const AccessSyntax PortSyntax{"port", "PORT", 0x10000, false, false, false};
const AccessSyntax MemorySyntax{"address", "ADDR", 1ull << 32, false, false, false};
// The extended configuration space of PCI Express; conventional functions end at 0xff.
const AccessSyntax PciRegisterSyntax{"register", "REG", 0x1000, true, true, true};

namespace {

constexpr double LongestDuration = 1e6;  // seconds: beyond that a typing slip is more likely

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

std::string range_text(std::uint64_t min, std::uint64_t max, Shown shown) {
  return shown == Shown::Decimal ? fmt::format("{}..{}", min, max) : fmt::format("{:#x}..{:#x}", min, max);
}

// A setpci number: hexadecimal digits, with or without 0x.
Result<std::uint64_t> parse_setpci_number(std::string_view text, std::string_view what) {
  std::string_view digits = has_hex_prefix(text) ? text.substr(2) : text;
  if (std::optional<std::uint64_t> value = parse_digits(digits, 16)) return *value;
  return Error{fmt::format("{} \"{}\" is not a hexadecimal number", what, text)};
}

Result<std::uint64_t> parse_in(std::string_view text, std::string_view what, bool setpci_numbers) {
  return setpci_numbers ? parse_setpci_number(text, what) : parse_number(text, what);
}

Result<std::vector<std::uint32_t>> parse_values(std::string_view text, bool setpci_numbers) {
  std::vector<std::uint32_t> values;
  for (std::size_t start = 0;;) {
    std::size_t comma = text.find(',', start);
    FERROX_TRY_ASSIGN(std::uint64_t value, parse_in(text.substr(start, comma - start), "value", setpci_numbers));
    if (value > 0xFFFFFFFF) return Error{fmt::format("value \"{}\" does not fit in 4 bytes", text.substr(start, comma - start))};
    values.push_back(static_cast<std::uint32_t>(value));
    if (comma == std::string_view::npos) return values;
    start = comma + 1;
  }
}

std::string place_text(std::uint64_t place, const AccessSyntax& syntax) {
  return syntax.setpci_numbers ? fmt::format("{:02x}", place) : fmt::format("{:#x}", place);
}

}  // namespace

Result<std::uint64_t> parse_number(std::string_view text, std::string_view what) {
  std::optional<std::uint64_t> value =
      has_hex_prefix(text) ? parse_digits(text.substr(2), 16) : parse_digits(text, 10);
  if (!value) return Error{fmt::format("{} \"{}\" is not a number (decimal, or hexadecimal with 0x)", what, text)};
  if (!has_hex_prefix(text) && text.size() > 1 && text[0] == '0') {
    std::string_view digits = text.substr(std::min(text.find_first_not_of('0'), text.size() - 1));
    return Error{fmt::format("{} \"{}\" has a leading zero, which leaves its base unclear: write 0x{} for "
                             "hexadecimal, {} for decimal", what, text, digits, digits)};
  }
  return *value;
}

CLI::Validator number_in(std::uint64_t min, std::uint64_t max, const std::string& what, Shown shown) {
  std::string range = range_text(min, max, shown);
  return CLI::Validator(
      [min, max, what, range](std::string& text) -> std::string {
        Result<std::uint64_t> value = parse_number(text, what);
        if (!value) return value.error().Message;
        if (*value < min || *value > max) return fmt::format("{} {} is outside {}", what, text, range);
        text = std::to_string(*value);
        return {};
      },
      range);
}

CLI::Validator seconds(const std::string& what) {
  return CLI::Validator(
      [what](std::string& text) -> std::string {
        double value = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        bool number = !text.empty() && error == std::errc{} && end == text.data() + text.size() && std::isfinite(value);
        if (!number) return fmt::format("{} \"{}\" is not a number of seconds, such as 0.5 or 10", what, text);
        if (value <= 0 || value > LongestDuration)
          return fmt::format("{} {} s is outside the range above 0 s up to {} s", what, text, LongestDuration);
        return {};
      },
      "SECONDS");
}

std::string hex(std::uint64_t value, unsigned bytes) { return fmt::format("{:0{}x}", value, 2 * bytes); }

std::string bytes_text(std::uint64_t count) { return fmt::format("{} byte{}", count, count == 1 ? "" : "s"); }

ferrox::Status values_fit(const std::vector<std::uint32_t>& values, unsigned width) {
  for (std::uint32_t value : values)
    if (width < 4 && value >> (8 * width) != 0)
      return Error{fmt::format("value {:#x} does not fit in {}", value, bytes_text(width))};
  return ferrox::Done{};
}

Result<Access> parse_access(std::string_view text, const AccessSyntax& syntax, Values values) {
  std::size_t equals = text.find('=');
  if (values == Values::Refused && equals != std::string_view::npos)
    return Error{fmt::format("\"{}\": a read takes no value", text)};
  if (values == Values::Required && equals == std::string_view::npos)
    return Error{fmt::format("\"{}\" gives no value: write {}.w=VALUE", text, syntax.placeholder)};
  std::string_view name = text.substr(0, equals);
  Access access;
  std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot + 2 == name.size()) access.width = width_of(name[dot + 1]);
  if (!access.width && (syntax.width_required || dot != std::string_view::npos))
    return Error{fmt::format("\"{}\": a {} is written {}.b, {}.w or {}.l", name, syntax.what, syntax.placeholder,
                             syntax.placeholder, syntax.placeholder)};
  std::string_view place_name = access.width ? name.substr(0, dot) : name;
  FERROX_TRY_ASSIGN(std::uint64_t place, parse_in(place_name, syntax.what, syntax.setpci_numbers));
  std::string space = syntax.setpci_numbers ? fmt::format("0..{:x}", syntax.space - 1)
                                            : fmt::format("0..{:#x}", syntax.space - 1);
  if (place >= syntax.space)
    return Error{fmt::format("{} \"{}\" is outside {}", syntax.what, place_name, space)};
  access.address = place;
  unsigned width = access.width.value_or(1);
  if (syntax.aligned && access.address % width != 0)
    return Error{fmt::format("{} {} is not aligned to its width of {}", syntax.what, place_text(place, syntax),
                             bytes_text(width))};
  if (equals != std::string_view::npos) {
    FERROX_TRY_ASSIGN(access.values, parse_values(text.substr(equals + 1), syntax.setpci_numbers));
    FERROX_TRY(values_fit(access.values, width));
  }
  std::uint64_t elements = std::max<std::size_t>(access.values.size(), 1);
  if (access.address + elements * width > syntax.space)
    return Error{fmt::format("{} from {} {} run past {} {}", bytes_text(width * elements), syntax.what,
                             place_text(place, syntax), syntax.what, place_text(syntax.space - 1, syntax))};
  return access;
}

CLI::Validator access_check(const AccessSyntax& syntax, Values values) {
  std::string name = syntax.placeholder;
  std::string shape = name + (syntax.width_required ? ".b|.w|.l" : "[.b|.w|.l]");
  if (values != Values::Refused) shape += values == Values::Required ? "=VALUE" : "[=VALUE,...]";
  return CLI::Validator(
      [&syntax, values](std::string& text) -> std::string {
        Result<Access> access = parse_access(text, syntax, values);
        return access ? std::string() : access.error().Message;
      },
      shape);
}

}  // namespace ferrox_tool
