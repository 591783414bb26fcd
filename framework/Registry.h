// SPDX-License-Identifier: MIT
// The class registry (component classes by name, so forms can create them) and the palette
// (classes grouped on named pages for the designer).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "ferrox/framework/Export.h"
#include "ferrox/framework/TypeInfo.h"

namespace ferrox::framework {

// Classes stay registered until unregistered or until the module whose type table holds them is
// unregistered; registering a class twice keeps one entry. A second class under a name already
// taken is refused (false).
FRAMEWORK_API bool RegisterClass(const TClassInfo& Class);
FRAMEWORK_API void UnregisterClass(const TClassInfo& Class);
FRAMEWORK_API const TClassInfo* FindClass(std::string_view ClassName);
// The registered class of a component's own (most derived) type.
FRAMEWORK_API const TClassInfo* ClassOf(const TComponent& Component);

// Registers the classes and puts them on the palette page, which is made when it does not exist.
FRAMEWORK_API void RegisterComponents(std::string_view Page, std::initializer_list<const TClassInfo*> Classes);
// Pages in the order they were made, and the classes of one page in the order they were put there.
FRAMEWORK_API std::vector<std::string> PalettePages();
FRAMEWORK_API std::vector<const TClassInfo*> PalettePage(std::string_view Page);

}  // namespace ferrox::framework
