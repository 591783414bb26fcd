// SPDX-License-Identifier: MIT
// Loading and unloading packages.
#include "ferrox/framework/PackageLoader.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <utility>

#include "ferrox/framework/Modules.h"

namespace ferrox::framework {

namespace {

// Closes the library on every path that does not hand it over to a TPackage.
struct LibraryHandle {
  void* handle = nullptr;
  ~LibraryHandle() {
    if (handle) dlclose(handle);
  }
  void* release() { return std::exchange(handle, nullptr); }
};

template <class Function>
Function Entry(void* handle, const char* name) {
  return reinterpret_cast<Function>(dlsym(handle, name));
}

Result<TPackageInfo> ReadDescription(const TModuleRecord& module, PackageHost host) {
  auto resource = FindResource(module, "packageinfo");
  if (!resource) return Error{"the package carries no \"packageinfo\" description"};
  Result<TPackageInfo> info = ParsePackageInfo({reinterpret_cast<const char*>(resource->data()), resource->size()});
  if (!info) return Error{"packageinfo: " + info.error().Text()};
  if (host == PackageHost::Design && info->RunOnly) return Error{"package " + info->Name + " is for run time only"};
  if (host == PackageHost::Application && info->DesignOnly) return Error{"package " + info->Name + " is for design only"};
  for (const std::string& required : info->Requires)
    if (!IsFrameworkPackage(required)) return Error{"package " + info->Name + " requires unknown package " + required};
  return info;
}

}  // namespace

bool IsFrameworkPackage(const std::string& Name) {
  static const std::array<std::string_view, 3> provided = {"netbase", "visual", "base"};
  return std::find(provided.begin(), provided.end(), Name) != provided.end();
}

Result<std::unique_ptr<TPackage>> LoadPackage(const std::string& Path, PackageHost Host) {
  LibraryHandle library{dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL)};
  if (!library.handle) return Error{"cannot load " + Path + ": " + dlerror()};
  // The library's start-up registered its module record while it was being mapped.
  TModuleRecord* module = FindModule(library.handle);
  if (!module) return Error{Path + " registered no module: it is not a package"};
  auto initialize = Entry<void (*)()>(library.handle, "Initialize");
  auto finalize = Entry<void (*)()>(library.handle, "Finalize");
  auto units = Entry<const TPackageInfoTable* (*)()>(library.handle, "GetPackageInfoTable");
  if (!initialize || !finalize || !units) return Error{Path + " lacks a package entry point"};
  FERROX_TRY_ASSIGN(TPackageInfo info, ReadDescription(*module, Host));

  initialize();
  if (Host == PackageHost::Design) {
    if (auto registration = Entry<void (*)()>(library.handle, "Register")) registration();
  }
  return std::unique_ptr<TPackage>(new TPackage(library.release(), module, std::move(info), units(), finalize));
}

TPackage::TPackage(void* Handle, TModuleRecord* Module, TPackageInfo Info, const TPackageInfoTable* Units,
                   void (*Finalize)())
    : FHandle(Handle), FModule(Module), FInfo(std::move(Info)), FUnits(Units), FFinalize(Finalize) {}

TPackage::~TPackage() {
  FFinalize();
  // The library's shut-down unregisters its module as the dynamic loader unmaps it.
  dlclose(FHandle);
}

}  // namespace ferrox::framework
