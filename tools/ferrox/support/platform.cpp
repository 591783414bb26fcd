// SPDX-License-Identifier: MIT
// Choosing the platform, and starting again on the virtual PC.
#include "tools/ferrox/support/platform.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>

#include "ferrox/common/LoadedLibrary.h"
#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/control.h"

namespace ferrox_tool {

namespace {

// Set in the environment of the restarted program, which then runs with the virtual PC preloaded.
constexpr const char* VirtualMarker = "FERROX_ON_VIRTUAL_PC";
// What the user sets to say --virtual for every run.
constexpr const char* VirtualVariable = "FERROX_VIRTUAL";

}  // namespace

std::filesystem::path library_beside_component(const char* soname) {
  return ferrox::LibraryBeside(FERROX_LIBRARY_SONAME, soname);
}

std::filesystem::path virtual_pc_library() { return library_beside_component(FERROX_VPC_SONAME); }

bool virtual_pc_wanted(bool asked) {
  const char* variable = std::getenv(VirtualVariable);
  return asked || (variable && *variable && std::string(variable) != "0");
}

namespace {

vpc_start_entry preloaded_virtual_pc() { return reinterpret_cast<vpc_start_entry>(dlsym(RTLD_DEFAULT, "vpc_start")); }

}  // namespace

bool virtual_pc_loaded() { return std::getenv(VirtualMarker) || preloaded_virtual_pc(); }

ferrox::Result<Platform> choose_platform(bool want_virtual, char** argv) {
  // Restarted on the virtual PC, or run with it preloaded already (a program that ferrox trace
  // runs on the virtual PC): it was asked for.
  vpc_start_entry start = preloaded_virtual_pc();
  if (virtual_pc_loaded()) {
    // The preloaded machine starts here, so that a machine file at fault is said as such.
    char message[1024];
    if (start && start(message, sizeof message) != 0) return ferrox::Error{std::string("virtual PC: ") + message};
    return Platform::VirtualPc;
  }
  // Without the virtual PC asked for, the hardware or nothing: never the virtual PC in its place.
  if (!want_virtual) return Platform::RealDriver;
  std::filesystem::path library = virtual_pc_library();
  if (library.empty())
    return ferrox::Error{"the virtual PC library (" FERROX_VPC_SONAME ") is not beside libferrox"};
  setenv(VirtualMarker, "1", 1);
  // Ahead of whatever the user preloads already, unless it is among them (a tracer in front of
  // the virtual PC put it there, and must stay in front).
  std::string preload = library.string();
  if (const char* others = std::getenv("LD_PRELOAD"); others && *others)
    preload = std::string(others).find("libferrox-vpc") != std::string::npos ? others : preload + ":" + others;
  setenv("LD_PRELOAD", preload.c_str(), 1);
  execv("/proc/self/exe", argv);
  return ferrox::Error{"could not restart on the virtual PC: " + std::error_code(errno, std::generic_category()).message()};
}

}  // namespace ferrox_tool
