// SPDX-License-Identifier: MIT
// Forms in text: a component and the components it owns, with their published properties.
//
//   object MainForm: TMainForm
//     object Ferrox1: TFerrox32
//       OnHwInterrupt = Ferrox1HwInterrupt
//       HardAccess = False
//     end
//   end
//
// A property is written only when it differs from its default; an event is written as the name
// of the form's published method it is bound to. Reading creates every component by its
// registered class name, owned by the object it is nested in, and assigns every property through
// its write accessor.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ferrox/framework/Export.h"
#include "ferrox/common/Result.h"
#include "ferrox/framework/TComponent.h"

namespace ferrox::framework {

struct FreeComponent {
  void operator()(TComponent* Component) const { Component->Free(); }
};
using TComponentPtr = std::unique_ptr<TComponent, FreeComponent>;

// Root is the form: the events of its components are stored by the names of its published methods.
FRAMEWORK_API Result<std::string> WriteForm(const TComponent& Root);

// A malformed form is refused with an error naming its line; nothing read from it is left alive.
FRAMEWORK_API Result<TComponentPtr> ReadForm(std::string_view Text);

}  // namespace ferrox::framework
