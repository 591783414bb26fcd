// SPDX-License-Identifier: MIT
// The module registry: every library built on the framework registers a module record when the
// dynamic loader maps it and unregisters it before it is unmapped. Through the record the
// framework finds the library's classes (its type table) and its named resources.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ferrox/framework/Export.h"
#include "ferrox/framework/TypeInfo.h"

namespace ferrox::framework {

struct TResource {
  std::string_view Name;
  std::span<const std::uint8_t> Data;
};

struct TModuleRecord {
  void* Instance = nullptr;  // the library's handle, as the dynamic loader knows it
  std::span<const TClassInfo* const> Types;
  std::span<const TResource> Resources;
  // Kept by the package loader: the units initialised so far, in order.
  std::vector<std::string> InitializedUnits;
};

// Registering a module registers the classes of its type table; unregistering takes them out of
// the class registry and off the palette.
FRAMEWORK_API void RegisterModule(TModuleRecord& Module);
FRAMEWORK_API void UnregisterModule(TModuleRecord& Module);
FRAMEWORK_API TModuleRecord* FindModule(void* Instance);

FRAMEWORK_API std::optional<std::span<const std::uint8_t>> FindResource(const TModuleRecord& Module, std::string_view Name);

// The handle of the library that contains Address, for a library to fill its own record from its
// start-up. The handle names the library without holding a reference to it, so that the library
// can still be unloaded; it is valid as long as the library stays mapped. nullptr when Address
// lies in no library that can be opened by name.
FRAMEWORK_API void* ModuleHandleOf(const void* Address);

}  // namespace ferrox::framework
