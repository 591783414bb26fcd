// SPDX-License-Identifier: MIT
// A library of the project found beside one this process has loaded, by the loaded one's path:
// where the libraries are installed and where the build puts them alike (side by side).
#pragma once

#include <dlfcn.h>
#include <link.h>

#include <filesystem>
#include <system_error>

namespace ferrox {

// The file Soname in the folder of the loaded library LoadedSoname, whatever path led to that one;
// empty when it is not loaded or the file is not there.
inline std::filesystem::path LibraryBeside(const char* LoadedSoname, const char* Soname) {
  void* loaded = dlopen(LoadedSoname, RTLD_LAZY | RTLD_NOLOAD);
  if (!loaded) return {};
  std::filesystem::path library;
  link_map* map = nullptr;
  if (dlinfo(loaded, RTLD_DI_LINKMAP, &map) == 0 && map)
    library = std::filesystem::absolute(map->l_name).parent_path() / Soname;
  dlclose(loaded);
  std::error_code error;
  return std::filesystem::exists(library, error) ? library : std::filesystem::path();
}

}  // namespace ferrox
