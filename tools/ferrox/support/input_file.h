// SPDX-License-Identifier: MIT
// Reading a whole file named on the command line, or standard input for "-".
#pragma once

#include <string>

#include "ferrox/common/Result.h"

namespace ferrox_tool {

// The bytes of the file; an error that names the file and the reason (no such file, a directory or
// device, longer than a command holds, a read that failed).
ferrox::Result<std::string> read_input(const std::string& name);

}  // namespace ferrox_tool
