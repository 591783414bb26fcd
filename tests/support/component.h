// SPDX-License-Identifier: MIT
// Components made and freed the framework's way, owned by the test.
#pragma once

#include <memory>

#include "ferrox/component/Ferrox32.h"

struct ComponentDeleter {
  void operator()(ferrox::TFerrox32* component) const { component->Free(); }
};
using Component = std::unique_ptr<ferrox::TFerrox32, ComponentDeleter>;

inline Component make_component(ferrox::framework::TComponent* owner = nullptr) {
  return Component(ferrox::framework::TComponent::Create<ferrox::TFerrox32>(owner));
}
