// SPDX-License-Identifier: MIT
// TComponent: the framework's base class of components: an owner, a name, owned components that
// are destroyed with their owner, and the after-construction / before-destruction hooks.
#pragma once

#include <string>
#include <vector>

#include "ferrox/framework/Export.h"

namespace ferrox::framework {

class FRAMEWORK_API TComponent {
 public:
  explicit TComponent(TComponent* AOwner);
  virtual ~TComponent();

  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // The framework's ordinary way to make a component: construct, then run the after-construction
  // hook. The result is owned by AOwner when one is given.
  template <class T>
  static T* Create(TComponent* AOwner) {
    T* component = new T(AOwner);
    component->AfterConstruction();
    return component;
  }

  // The framework's ordinary destruction: the before-destruction hook, then the destructor.
  void Free();

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(std::string AName) { FName = std::move(AName); }
  const std::vector<TComponent*>& Components() const { return FComponents; }

  virtual void AfterConstruction() {}
  virtual void BeforeDestruction() {}

 private:
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);

  TComponent* FOwner = nullptr;
  std::string FName;
  std::vector<TComponent*> FComponents;
};

}  // namespace ferrox::framework
