// SPDX-License-Identifier: MIT
// Configuration registers by setpci's names: "COMMAND" is 04.w, "BASE_ADDRESS_0.w" the low word
// of 10, "COMMAND+1.b" the byte after the command register's first.
#pragma once

#include <CLI/CLI.hpp>

#include <string_view>

#include "ferrox/common/Result.h"
#include "tools/ferrox/support/numbers.h"

namespace ferrox_tool {

// A register access as setpci takes one: REG as a hexadecimal offset or a name (any case), with
// +OFFSET after a name, .b/.w/.l (a name's own width when left out), and for a write
// =VALUE[:MASK],...
ferrox::Result<Access> parse_register(std::string_view text, Values values);

// An option check that the text is such an access.
CLI::Validator register_check(Values values);

}  // namespace ferrox_tool
