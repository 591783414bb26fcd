// SPDX-License-Identifier: MIT
// Unit initialisation and finalisation of packages.
#include "ferrox/framework/Units.h"

namespace ferrox::framework {

void InitializePackage(TModuleRecord& Module, const TPackageInfoTable& Table) {
  if (!Module.InitializedUnits.empty()) return;
  for (std::uint32_t i = 0; i < Table.UnitCount; ++i) {
    const TUnitEntry& unit = Table.Units[i];
    if (unit.Initialization) unit.Initialization();
    Module.InitializedUnits.emplace_back(unit.Name);
  }
}

void FinalizePackage(TModuleRecord& Module, const TPackageInfoTable& Table) {
  // Only the units recorded as initialised are finalised: they are the first entries of the table.
  for (std::size_t i = Module.InitializedUnits.size(); i-- > 0;) {
    if (i < Table.UnitCount && Table.Units[i].Finalization) Table.Units[i].Finalization();
    Module.InitializedUnits.pop_back();
  }
}

}  // namespace ferrox::framework
