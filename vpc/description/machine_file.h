// SPDX-License-Identifier: MIT
// Machine files: a machine description written in TOML (the format is in docs/machine-file.md).
// A key left out keeps the value of the built-in machine, so an empty file is that machine.
#pragma once

#include <filesystem>
#include <string_view>

#include "ferrox/common/Result.h"
#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/description/machine_description.h"

namespace ferrox::vpc {

// The machine, or the first fault of the file: its Text() is "FILE:LINE: key: what".
//
// text as read from file: the file names the machine in messages, and ROM images are found
// relative to its directory.
VPC_API ferrox::Result<MachineDescription> parse_machine_file(std::string_view text, const std::filesystem::path& file);
VPC_API ferrox::Result<MachineDescription> load_machine_file(const std::filesystem::path& file);

}  // namespace ferrox::vpc
