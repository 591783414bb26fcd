// SPDX-License-Identifier: MIT
// The library's module record, registered with the framework while the library is mapped.
#pragma once

#include "ferrox/framework/Modules.h"

namespace ferrox::package {

framework::TModuleRecord& ThisModule();

}  // namespace ferrox::package
