// SPDX-License-Identifier: MIT
// The library's start-up and shut-down: the dynamic loader runs them as it maps and unmaps the
// library. Start-up fills the module record (handle, classes, resources) and registers it, so the
// framework can create TFerrox32 by name and find the palette icon before any package entry is
// called; shut-down unregisters it. Neither opens the driver or touches hardware.
#include "Module.h"

#include <span>
#include <string_view>

#include "ferrox/component/Published.h"
#include "PaletteBitmap.h"

namespace ferrox::package {

namespace {

// The description the package loader reads: usable by designers and applications alike.
constexpr std::string_view PackageDescription =
    "package ferrox\n"
    "usage design runtime\n"
    "requires netbase\n"
    "requires visual\n"
    "requires base\n"
    "contains ferrox main package\n"
    "contains HW_Types\n"
    "contains SysInit weak\n"
    "contains Ferrox32\n";

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

const framework::TResource Resources[] = {
    {"ferrox32", PaletteBitmap},
    {"packageinfo", Bytes(PackageDescription)},
};

const framework::TClassInfo* Types[1];

framework::TModuleRecord Module;

struct ModuleLifetime {
  ModuleLifetime() {
    Types[0] = &Ferrox32Class();
    Module.Instance = framework::ModuleHandleOf(&Module);
    Module.Types = Types;
    Module.Resources = Resources;
    framework::RegisterModule(Module);
  }
  ~ModuleLifetime() { framework::UnregisterModule(Module); }
};

// Defined after everything it uses, so it is built after them and destroyed before them.
const ModuleLifetime Lifetime;

}  // namespace

framework::TModuleRecord& ThisModule() { return Module; }

}  // namespace ferrox::package
