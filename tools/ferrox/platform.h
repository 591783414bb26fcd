// Where the ferrox tool runs: on the real driver, or on the built-in virtual PC.
#pragma once

#include <filesystem>
#include <string>

namespace ferrox_tool {

enum class Platform { RealDriver, VirtualPc };

// A library of the tool: installed beside it (lib/ next to bin/), or where the build left it;
// empty when neither is there.
std::filesystem::path tool_library(const std::string& name, const std::filesystem::path& build_path);
std::filesystem::path virtual_pc_library();

// Decides the platform. When the virtual PC is wanted (asked for, or no real "/dev/ferrox") and
// not yet loaded, starts this program again with the virtual PC preloaded and does not return;
// returns an error message when that is impossible.
Platform choose_platform(bool want_virtual, char** argv, std::string& error);

}  // namespace ferrox_tool
