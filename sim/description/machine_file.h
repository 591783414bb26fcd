// Machine files: a machine description written in TOML (the format is in docs/machine-file.md).
// A key left out keeps the value of the built-in machine, so an empty file is that machine.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/machine.h"

namespace vpc {

// The machine, or what is wrong with the file: "NAME:LINE: key: what", naming the first fault.
using MachineFileResult = std::variant<MachineDescription, std::string>;

// text as read from file: the file names the machine in messages, and ROM images are found
// relative to its directory.
VPC_API MachineFileResult parse_machine_file(std::string_view text, const std::filesystem::path& file);
VPC_API MachineFileResult load_machine_file(const std::filesystem::path& file);

// The environment variable that gives a process's first machine from a machine file
// (FERROX_VPC_MACHINE=/path/machine.toml). The ferrox tool sets it for --machine.
constexpr const char* MachineFileVariable = "FERROX_VPC_MACHINE";

}  // namespace vpc
