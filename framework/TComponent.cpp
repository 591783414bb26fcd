// SPDX-License-Identifier: MIT
// TComponent: ownership and lifecycle hooks.
#include "ferrox/framework/TComponent.h"

#include <algorithm>

namespace ferrox::framework {

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Owned components go first, newest first, each through the ordinary destruction.
  while (!FComponents.empty()) FComponents.back()->Free();
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::Free() {
  BeforeDestruction();
  delete this;
}

void TComponent::InsertComponent(TComponent* AComponent) { FComponents.push_back(AComponent); }

void TComponent::RemoveComponent(TComponent* AComponent) {
  FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), AComponent), FComponents.end());
}

}  // namespace ferrox::framework
