// SPDX-License-Identifier: MIT
// The package entry points the framework's loader calls: Initialize and Finalize, the unit table,
// and the registration of the component on the palette.
#include <iterator>

#include "ferrox/component/Published.h"
#include "ferrox/framework/Registry.h"
#include "ferrox/framework/Units.h"
#include "ferrox/hwtypes/Export.h"
#include "Module.h"

namespace {

// Dependency order: HW_Types needs nothing, the component's unit needs HW_Types. Neither unit has
// work of its own at initialisation: the framework only records them as initialised.
constexpr ferrox::framework::TUnitEntry Units[] = {
    {"HW_Types", nullptr, nullptr},
    {"Ferrox32", nullptr, nullptr},
};

constexpr ferrox::framework::TPackageInfoTable UnitTable = {static_cast<std::uint32_t>(std::size(Units)), Units};

}  // namespace

extern "C" {

FERROX_API void Initialize() { ferrox::framework::InitializePackage(ferrox::package::ThisModule(), UnitTable); }

FERROX_API void Finalize() { ferrox::framework::FinalizePackage(ferrox::package::ThisModule(), UnitTable); }

FERROX_API const ferrox::framework::TPackageInfoTable* GetPackageInfoTable() { return &UnitTable; }

// Called by a designer after loading the package, never by an application.
FERROX_API void Register() { ferrox::framework::RegisterComponents("Drivers", {&ferrox::Ferrox32Class()}); }

}  // extern "C"
