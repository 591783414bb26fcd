// SPDX-License-Identifier: MIT
// The package description a package carries as its resource "packageinfo": what it is for, which
// packages it needs and which units it contains. It is text, one statement a line:
//
//   package ferrox
//   usage design runtime          design, runtime or both: both means neither design- nor run-only
//   requires base                 one line per required package, in load order
//   contains ferrox main package  one line per unit, with its flags: main, package, weak
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ferrox/framework/Export.h"
#include "ferrox/common/Result.h"

namespace ferrox::framework {

enum TUnitFlags : unsigned {
  ufNone = 0,
  ufMainUnit = 1,     // the package's own main unit
  ufPackageUnit = 2,  // a unit of a package, not of a program
  ufWeakUnit = 4,     // linked weakly: its code is copied into the units that use it
};

struct TContainedUnit {
  std::string Name;
  unsigned Flags = ufNone;
};

struct TPackageInfo {
  std::string Name;
  bool DesignOnly = false;
  bool RunOnly = false;
  std::vector<std::string> Requires;
  std::vector<TContainedUnit> Contains;
};

FRAMEWORK_API Result<TPackageInfo> ParsePackageInfo(std::string_view Text);

}  // namespace ferrox::framework
