// SPDX-License-Identifier: MIT
// Where the ferrox tool runs: on the real driver, or on the built-in virtual PC.
#pragma once

#include <filesystem>

#include "ferrox/common/Result.h"

namespace ferrox_tool {

enum class Platform { RealDriver, VirtualPc };

// A library of the project (by its SONAME) beside the libferrox this tool loaded; empty when it is
// not there.
std::filesystem::path library_beside_component(const char* soname);
std::filesystem::path virtual_pc_library();

// Whether the virtual PC is wanted: asked for on the command line, or by FERROX_VIRTUAL=1.
bool virtual_pc_wanted(bool asked);

// Whether this program runs on the virtual PC: restarted with it, or with it preloaded already.
bool virtual_pc_loaded();

// Decides the platform: the real driver unless the virtual PC is wanted (whether or not the
// driver is there). When the virtual PC is wanted and not yet loaded, starts this program again
// with it preloaded and does not return; an error when that is impossible, or when the preloaded
// machine does not start.
ferrox::Result<Platform> choose_platform(bool want_virtual, char** argv);

}  // namespace ferrox_tool
