// SPDX-License-Identifier: MIT
// The package loader: loads a package library into the design environment or into an
// application, runs its unit initialisations and, in the design environment, its registration;
// unloading undoes it in reverse.
#pragma once

#include <memory>
#include <string>

#include "ferrox/framework/Export.h"
#include "ferrox/framework/PackageInfo.h"
#include "ferrox/common/Result.h"
#include "ferrox/framework/Units.h"

namespace ferrox::framework {

enum class PackageHost {
  Design,       // a designer: the package's Register puts its components on the palette
  Application,  // a program at run time: Register is never called
};

// A loaded package. Destroying it finalises the package's units and unloads the library.
class FRAMEWORK_API TPackage {
 public:
  ~TPackage();
  TPackage(const TPackage&) = delete;
  TPackage& operator=(const TPackage&) = delete;

  const TPackageInfo& Info() const { return FInfo; }
  const TModuleRecord& Module() const { return *FModule; }
  const TPackageInfoTable& Units() const { return *FUnits; }

 private:
  friend FRAMEWORK_API Result<std::unique_ptr<TPackage>> LoadPackage(const std::string& Path, PackageHost Host);
  TPackage(void* Handle, TModuleRecord* Module, TPackageInfo Info, const TPackageInfoTable* Units, void (*Finalize)());

  void* FHandle;
  TModuleRecord* FModule;
  TPackageInfo FInfo;
  const TPackageInfoTable* FUnits;
  void (*FFinalize)();
};

// Packages this framework provides itself, which a package may require without loading them.
FRAMEWORK_API bool IsFrameworkPackage(const std::string& Name);

FRAMEWORK_API Result<std::unique_ptr<TPackage>> LoadPackage(const std::string& Path, PackageHost Host);

}  // namespace ferrox::framework
