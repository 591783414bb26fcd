// A look at a machine file before toml++ reads it, for the malformed texts that toml++ 3.3.0
// does not survive: a character outside ASCII where TOML allows none (outside strings and
// comments; it reaches unreachable code in toml++'s Unicode tables), and a table header whose
// brackets are not followed by a key (it breaks a precondition of toml++'s key reader). Both
// are invalid TOML, so a valid file always passes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vpc::machine_file {

struct TomlRefusal {
  std::uint32_t line;  // 1-based
  std::string what;
};

std::optional<TomlRefusal> refuse_before_toml(std::string_view text);

}  // namespace vpc::machine_file
