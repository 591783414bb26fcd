// SPDX-License-Identifier: MIT
// Parsing numbers, durations and access expressions.
#include "tools/ferrox/support/numbers.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>

namespace ferrox_tool {

using ferrox::Error;
using ferrox::Result;

const AccessSyntax PortSyntax{"port", "PORT", 0x10000, false, false, false, 4, false};
// x86 physical addresses have at most 52 bits; how much of that the driver reaches is the mem
// command's to say.
const AccessSyntax MemorySyntax{"address", "ADDR", 1ull << 52, false, false, false, 8, false};
// The extended configuration space of PCI Express; conventional functions end at 0xff.
const AccessSyntax PciRegisterSyntax{"register", "REG", 0x1000, true, true, true, 4, true};

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

std::optional<unsigned> width_of(char suffix, const AccessSyntax& syntax) {
  switch (suffix) {
    case 'b': case 'B': return 1;
    case 'w': case 'W': return 2;
    case 'l': case 'L': return 4;
    case 'q': case 'Q': if (syntax.widest == 8) return 8; return {};
    default: return {};
  }
}

// ".b, .w or .l", with .q where the syntax has it, each after the placeholder.
std::string widths_text(const AccessSyntax& syntax) {
  std::string place = syntax.placeholder;
  if (syntax.widest == 8) return fmt::format("{0}.b, {0}.w, {0}.l or {0}.q", place);
  return fmt::format("{0}.b, {0}.w or {0}.l", place);
}

// "a port", "an address", "a register".
std::string with_article(std::string_view noun) {
  bool vowel = !noun.empty() && std::string_view("aeiou").find(noun[0]) != std::string_view::npos;
  return fmt::format("{} {}", vowel ? "an" : "a", noun);
}

std::string range_text(std::uint64_t min, std::uint64_t max, Shown shown) {
  return shown == Shown::Decimal ? fmt::format("{}..{}", min, max) : fmt::format("{:#x}..{:#x}", min, max);
}

Result<std::uint64_t> parse_in(std::string_view text, std::string_view what, bool setpci_numbers) {
  return setpci_numbers ? parse_setpci_number(text, what) : parse_number(text, what);
}

// "V1,V2:MASK,...": the values, each with its mask where the syntax takes masks, into access.
// Each value and mask must still fit the access's width, which the caller checks.
ferrox::Status parse_values(std::string_view text, const AccessSyntax& syntax, Access& access) {
  for (std::size_t start = 0;;) {
    std::size_t comma = text.find(',', start);
    std::string_view item = text.substr(start, comma - start);
    std::size_t colon = syntax.masks ? item.find(':') : std::string_view::npos;
    FERROX_TRY_ASSIGN(std::uint64_t value, parse_in(item.substr(0, colon), "value", syntax.setpci_numbers));
    access.values.push_back(value);
    if (syntax.masks) {
      std::optional<std::uint64_t> mask;
      if (colon != std::string_view::npos) {
        FERROX_TRY_ASSIGN(mask, parse_in(item.substr(colon + 1), "mask", syntax.setpci_numbers));
      }
      access.masks.push_back(mask);
    }
    if (comma == std::string_view::npos) return ferrox::Done{};
    start = comma + 1;
  }
}

std::string place_text(std::uint64_t place, const AccessSyntax& syntax) {
  return syntax.setpci_numbers ? fmt::format("{:02x}", place) : fmt::format("{:#x}", place);
}

}  // namespace

Result<std::uint64_t> parse_setpci_number(std::string_view text, std::string_view what) {
  std::string_view digits = has_hex_prefix(text) ? text.substr(2) : text;
  if (std::optional<std::uint64_t> value = parse_digits(digits, 16)) return *value;
  return Error{fmt::format("{} \"{}\" is not a hexadecimal number", what, text)};
}

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

ferrox::Status values_fit(const std::vector<std::uint64_t>& values, unsigned width, std::string_view what) {
  for (std::uint64_t value : values)
    if (width < 8 && value >> (8 * width) != 0)
      return Error{fmt::format("{} {:#x} does not fit in {}", what, value, bytes_text(width))};
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
  if (dot != std::string_view::npos && dot + 2 == name.size()) access.width = width_of(name[dot + 1], syntax);
  if (!access.width && (syntax.width_required || dot != std::string_view::npos))
    return Error{fmt::format("\"{}\": {} is written {}", name, with_article(syntax.what), widths_text(syntax))};
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
    FERROX_TRY(parse_values(text.substr(equals + 1), syntax, access));
    FERROX_TRY(values_fit(access.values, width));
    for (const std::optional<std::uint64_t>& mask : access.masks)
      if (mask) FERROX_TRY(values_fit({*mask}, width, "mask"));
  }
  std::uint64_t elements = std::max<std::size_t>(access.values.size(), 1);
  if (access.address + elements * width > syntax.space)
    return Error{fmt::format("{} from {} {} run past {} {}", bytes_text(width * elements), syntax.what,
                             place_text(place, syntax), syntax.what, place_text(syntax.space - 1, syntax))};
  return access;
}

CLI::Validator access_check(const AccessSyntax& syntax, Values values) {
  std::string name = syntax.placeholder;
  std::string widths = syntax.widest == 8 ? ".b|.w|.l|.q" : ".b|.w|.l";
  std::string shape = name + (syntax.width_required ? widths : "[" + widths + "]");
  if (values != Values::Refused) shape += values == Values::Required ? "=VALUE" : "[=VALUE,...]";
  return CLI::Validator(
      [&syntax, values](std::string& text) -> std::string {
        Result<Access> access = parse_access(text, syntax, values);
        return access ? std::string() : access.error().Message;
      },
      shape);
}

}  // namespace ferrox_tool
