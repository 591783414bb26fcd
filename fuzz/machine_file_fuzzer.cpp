// SPDX-License-Identifier: MIT
// Fuzz target: the machine-file reader. Any text gives a machine or a message naming a line, and
// nothing undefined happens on the way (the sanitizers, and the TOML reader's own assertions, are
// the checks). Files a machine file names are looked for in a directory that does not exist.
#include <string_view>

#include "ferrox/vpc/description/machine_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ferrox::vpc::parse_machine_file(std::string_view(reinterpret_cast<const char*>(data), size), "/nonexistent/fuzz.toml");
  return 0;
}
