// SPDX-License-Identifier: MIT
// Reading input named on the command line: a regular file or a pipe, of a size a command can hold.
#include "tools/ferrox/support/input_file.h"

#include "ferrox/common/WholeFile.h"

namespace ferrox_tool {

ferrox::Result<std::string> read_input(const std::string& name) {
  constexpr std::size_t MaxInputBytes = std::size_t{64} << 20;
  ferrox::Result<std::string> bytes = ferrox::ReadWholeFile(name, MaxInputBytes);
  if (!bytes) return ferrox::Error{"cannot read " + bytes.error().Source + ": " + bytes.error().Message};
  return bytes;
}

}  // namespace ferrox_tool
