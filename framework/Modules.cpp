// SPDX-License-Identifier: MIT
// The module registry and module resources.
#include "ferrox/framework/Modules.h"

#include <dlfcn.h>

#include <algorithm>

#include "ferrox/framework/Registry.h"

namespace ferrox::framework {

namespace {

std::vector<TModuleRecord*>& TheModules() {
  static std::vector<TModuleRecord*> modules;
  return modules;
}

}  // namespace

void RegisterModule(TModuleRecord& Module) {
  std::vector<TModuleRecord*>& modules = TheModules();
  if (std::find(modules.begin(), modules.end(), &Module) != modules.end()) return;
  modules.push_back(&Module);
  for (const TClassInfo* c : Module.Types) RegisterClass(*c);
}

void UnregisterModule(TModuleRecord& Module) {
  std::vector<TModuleRecord*>& modules = TheModules();
  modules.erase(std::remove(modules.begin(), modules.end(), &Module), modules.end());
  for (const TClassInfo* c : Module.Types) UnregisterClass(*c);
}

TModuleRecord* FindModule(void* Instance) {
  for (TModuleRecord* module : TheModules())
    if (module->Instance == Instance) return module;
  return nullptr;
}

std::optional<std::span<const std::uint8_t>> FindResource(const TModuleRecord& Module, std::string_view Name) {
  for (const TResource& resource : Module.Resources)
    if (resource.Name == Name) return resource.Data;
  return std::nullopt;
}

void* ModuleHandleOf(const void* Address) {
  Dl_info info{};
  if (dladdr(Address, &info) == 0 || !info.dli_fname) return nullptr;
  void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  // Opening again took a reference; keeping it would keep the library mapped for ever, so give it
  // back at once: the handle value stays the library's while it is mapped.
  if (handle) dlclose(handle);
  return handle;
}

}  // namespace ferrox::framework
