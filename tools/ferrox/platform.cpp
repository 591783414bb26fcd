// SPDX-License-Identifier: MIT
// Choosing the platform, and starting again on the virtual PC.
#include "tools/ferrox/platform.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/control.h"

namespace ferrox_tool {

namespace {

// Set in the environment of the restarted program, which then runs with the virtual PC preloaded.
constexpr const char* VirtualMarker = "FERROX_ON_VIRTUAL_PC";

}  // namespace

// Where it is installed and where the build puts it alike. The loaded libferrox is found by name
// among the objects already loaded, whatever path led to it.
std::filesystem::path library_beside_component(const char* soname) {
  void* component = dlopen(FERROX_LIBRARY_SONAME, RTLD_LAZY | RTLD_NOLOAD);
  if (!component) return {};
  std::filesystem::path library;
  link_map* map = nullptr;
  if (dlinfo(component, RTLD_DI_LINKMAP, &map) == 0 && map)
    library = std::filesystem::absolute(map->l_name).parent_path() / soname;
  dlclose(component);
  std::error_code error;
  return std::filesystem::exists(library, error) ? library : std::filesystem::path();
}

std::filesystem::path virtual_pc_library() { return library_beside_component(FERROX_VPC_SONAME); }

Platform choose_platform(bool want_virtual, char** argv, std::string& error) {
  if (std::getenv(VirtualMarker)) {
    // The preloaded machine starts here, so that a machine file at fault is said as such.
    auto start = reinterpret_cast<vpc_start_entry>(dlsym(RTLD_DEFAULT, "vpc_start"));
    char message[1024];
    if (start && start(message, sizeof message) != 0) error = std::string("virtual PC: ") + message;
    return Platform::VirtualPc;
  }
  if (!want_virtual && access(ferrox::DriverDevicePath, F_OK) == 0) return Platform::RealDriver;
  std::filesystem::path library = virtual_pc_library();
  if (library.empty()) {
    error = std::string("no ") + ferrox::DriverDevicePath +
            " here, and the virtual PC library (" FERROX_VPC_SONAME ") is not beside libferrox";
    return Platform::VirtualPc;
  }
  setenv(VirtualMarker, "1", 1);
  // Ahead of whatever the user preloads already, unless it is among them (a tracer in front of
  // the virtual PC put it there, and must stay in front).
  std::string preload = library.string();
  if (const char* others = std::getenv("LD_PRELOAD"); others && *others)
    preload = std::string(others).find("libferrox-vpc") != std::string::npos ? others : preload + ":" + others;
  setenv("LD_PRELOAD", preload.c_str(), 1);
  execv("/proc/self/exe", argv);
  error = "could not restart on the virtual PC: " + std::error_code(errno, std::generic_category()).message();
  return Platform::VirtualPc;
}

}  // namespace ferrox_tool
