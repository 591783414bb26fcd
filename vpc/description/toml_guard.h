// SPDX-License-Identifier: MIT
// A look at a machine file before toml++ reads it, for the texts that toml++ 3.3.0 does not
// survive. It asks whether a character is whitespace wherever a token may end, and its answer for
// many characters outside ASCII reaches unreachable code in its Unicode tables; and some of its
// readers start on a character they never check. So it is refused: a character outside ASCII
// anywhere but in string content and comments (a quote glued to a bare key or value opens no
// string, for toml++), a table header without a key, a '}' where an array's value should start, a
// bare value followed by '=', '[' or '{' (toml++ reads a malformed number on to the next blank).
// All of these are invalid TOML. One valid form is refused too: a character outside ASCII right
// after a backslash (and the blanks and line breaks of a line-ending backslash) in a multi-line
// basic string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ferrox::vpc::machine_file {

struct TomlRefusal {
  std::uint32_t line;  // 1-based
  std::string what;
};

std::optional<TomlRefusal> refuse_before_toml(std::string_view text);

}  // namespace ferrox::vpc::machine_file
