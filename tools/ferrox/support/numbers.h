// SPDX-License-Identifier: MIT
// Numbers on the command line: "0x" and hexadecimal digits, or decimal digits; seconds; and the
// access expressions of setpci, "ADDR.w" and "ADDR.w=VALUE", which port, mem and pci all speak.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ferrox/common/Result.h"

namespace ferrox_tool {

// "0x1f" or "31"; nothing else (no sign, no octal, no trailing text, no leading zero: "0378"
// would be read as 378 by some and as 0x378 by others). what names the number in the error.
ferrox::Result<std::uint64_t> parse_number(std::string_view text, std::string_view what);

// A number as setpci takes one: hexadecimal digits, with or without 0x.
ferrox::Result<std::uint64_t> parse_setpci_number(std::string_view text, std::string_view what);

// How a range is written in messages: counts, lines and pins in decimal, addresses in hexadecimal.
enum class Shown { Decimal, Hexadecimal };

// An option transform that accepts a number in min..max and hands CLI11 its decimal form.
CLI::Validator number_in(std::uint64_t min, std::uint64_t max, const std::string& what,
                         Shown shown = Shown::Decimal);

// An option check for a duration in seconds: a positive decimal number such as 0.5 or 10.
CLI::Validator seconds(const std::string& what);

// "1f", "001f", "0000001f": enough digits for a value of bytes bytes.
std::string hex(std::uint64_t value, unsigned bytes);

// "1 byte", "4 bytes".
std::string bytes_text(std::uint64_t count);

// An access as setpci writes one: where, how wide, and for a write the values, which go to
// consecutive elements ("40.l=1,2" writes 40.l and 44.l). Where the syntax takes masks, a value
// may carry one, VALUE:MASK: only the mask's bits are written, the others keep what they hold.
struct Access {
  std::uint64_t address = 0;
  std::optional<unsigned> width;  // 1, 2, 4 or 8 bytes: .b, .w, .l, .q; absent when the text gives none
  std::vector<std::uint64_t> values;
  std::vector<std::optional<std::uint64_t>> masks;  // one per value, where the syntax takes masks
  bool masked(std::size_t element) const { return element < masks.size() && masks[element]; }
  // The element's new contents: the value's bits under its mask, the old ones elsewhere.
  std::uint64_t merged(std::size_t element, std::uint64_t old) const {
    if (!masked(element)) return values[element];
    return (old & ~*masks[element]) | (values[element] & *masks[element]);
  }
};

// What one command's access expressions look like.
struct AccessSyntax {
  const char* what;          // "port", "address", "register": names the place in errors
  const char* placeholder;   // "PORT", "ADDR", "REG": stands for the place in the expression's shape
  std::uint64_t space;       // places run from 0 to space - 1
  bool setpci_numbers;       // hexadecimal with or without 0x, as setpci takes them; else parse_number
  bool width_required;       // the suffix must be there
  bool aligned;              // the place is a multiple of its width
  unsigned widest;           // 4, or 8 where .q is a width of the space
  bool masks;                // a value may be followed by :MASK
};

extern const AccessSyntax PortSyntax;
extern const AccessSyntax MemorySyntax;
extern const AccessSyntax PciRegisterSyntax;

enum class Values { Refused, Optional, Required };

// Parses "ADDR", "ADDR.b|.w|.l" (and .q where the syntax has it) and, where values allows,
// "ADDR[.w]=VALUE[,VALUE...]" (each VALUE[:MASK] where the syntax takes masks). Checks
// that the access (width 1 when none is given) lies in the space, is aligned where it must be,
// and that each value fits the width.
ferrox::Result<Access> parse_access(std::string_view text, const AccessSyntax& syntax, Values values);

// An option check that the text is such an expression.
CLI::Validator access_check(const AccessSyntax& syntax, Values values);

// Checks that values fit in width bytes; the error names the first that does not, as what.
ferrox::Status values_fit(const std::vector<std::uint64_t>& values, unsigned width, std::string_view what = "value");

}  // namespace ferrox_tool
