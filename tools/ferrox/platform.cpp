// Choosing the platform, and starting again on the virtual PC.
#include "tools/ferrox/platform.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace ferrox_tool {

namespace {

// Set in the environment of the restarted program, which then runs with the virtual PC preloaded.
constexpr const char* VirtualMarker = "FERROX_ON_VIRTUAL_PC";

// The virtual PC library where the dynamic loader finds it for this program: the tool's run path
// leads to it in the build tree and, installed, to the library folder beside the tool's bin/.
std::filesystem::path virtual_pc_library() {
  void* library = dlopen(FERROX_VPC_SONAME, RTLD_LAZY | RTLD_LOCAL);
  if (!library) return {};
  std::filesystem::path path;
  link_map* map = nullptr;
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map) path = map->l_name;
  dlclose(library);
  return path;
}

}  // namespace

Platform choose_platform(bool want_virtual, char** argv, std::string& error) {
  if (std::getenv(VirtualMarker)) return Platform::VirtualPc;
  if (!want_virtual && access("/dev/ferrox", F_OK) == 0) return Platform::RealDriver;
  std::filesystem::path library = virtual_pc_library();
  if (library.empty()) {
    error = "no /dev/ferrox here, and the virtual PC library (libferrox-vpc.so) was not found";
    return Platform::VirtualPc;
  }
  setenv(VirtualMarker, "1", 1);
  // Ahead of whatever the user preloads already.
  std::string preload = library.string();
  if (const char* others = std::getenv("LD_PRELOAD"); others && *others) preload += std::string(":") + others;
  setenv("LD_PRELOAD", preload.c_str(), 1);
  execv("/proc/self/exe", argv);
  error = "could not restart on the virtual PC: " + std::error_code(errno, std::generic_category()).message();
  return Platform::VirtualPc;
}

const char* platform_name(Platform platform) {
  return platform == Platform::VirtualPc ? "the virtual PC" : "the real driver /dev/ferrox";
}

}  // namespace ferrox_tool
