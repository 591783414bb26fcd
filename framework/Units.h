// SPDX-License-Identifier: MIT
// A package's unit table and the initialisation and finalisation of its units. A package exports
// the table (GetPackageInfoTable) and hands it, with its module record, to InitializePackage from
// its Initialize entry and to FinalizePackage from its Finalize entry.
#pragma once

#include <cstdint>

#include "ferrox/framework/Export.h"
#include "ferrox/framework/Modules.h"

namespace ferrox::framework {

// One unit: its initialisation and finalisation routines, either of which may be absent.
struct TUnitEntry {
  const char* Name;
  void (*Initialization)();
  void (*Finalization)();
};

// The units of a package in dependency order: a unit comes after every unit it needs.
struct TPackageInfoTable {
  std::uint32_t UnitCount;
  const TUnitEntry* Units;
};

// Runs the initialisations in table order and records each unit as initialised. A package whose
// units are already initialised is left alone, so a second Initialize runs nothing.
FRAMEWORK_API void InitializePackage(TModuleRecord& Module, const TPackageInfoTable& Table);
// Runs the finalisations of the initialised units in reverse order and forgets them.
FRAMEWORK_API void FinalizePackage(TModuleRecord& Module, const TPackageInfoTable& Table);

}  // namespace ferrox::framework
