// SPDX-License-Identifier: MIT
// The tool's bash completion, generated from its own command tree, so that it knows every
// subcommand and option the help shows, and no other.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace ferrox_tool {

// A flag counted by its repetitions, as lspci's -n and -nn: the repetitions that mean something
// are shown in the help beside the flag, which is also where the completion finds them.
CLI::Option* add_counted_flag(CLI::App* command, const std::string& flag, const std::vector<std::string>& repetitions,
                              int& count, const std::string& description);

// The bash script that completes the command line of app: its subcommands, their options, and
// files, programs, PCI slots or words where a value is one.
std::string bash_completion(const CLI::App& app);

}  // namespace ferrox_tool
