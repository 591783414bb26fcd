// SPDX-License-Identifier: MIT
// Look-ups in a class's published properties and methods.
#include "ferrox/framework/TypeInfo.h"

#include <algorithm>

namespace ferrox::framework {

namespace {

template <class Item>
const Item* Named(const std::vector<Item>& items, std::string_view name) {
  auto found = std::find_if(items.begin(), items.end(), [&](const Item& item) { return item.Name == name; });
  return found == items.end() ? nullptr : &*found;
}

}  // namespace

const TPropertyInfo* TClassInfo::FindProperty(std::string_view Name) const { return Named(Properties, Name); }

const TPublishedMethod* TClassInfo::FindMethod(std::string_view Name) const { return Named(Methods, Name); }

const TPublishedMethod* TClassInfo::FindMethod(TMethod::CodePointer Code) const {
  auto found = std::find_if(Methods.begin(), Methods.end(), [&](const TPublishedMethod& m) { return m.Code == Code; });
  return found == Methods.end() ? nullptr : &*found;
}

std::optional<TMethod> MethodOf(TComponent& Form, const TClassInfo& FormClass, std::string_view Name) {
  const TPublishedMethod* method = FormClass.FindMethod(Name);
  if (!method) return std::nullopt;
  return TMethod{method->Code, static_cast<TComponent*>(&Form)};
}

}  // namespace ferrox::framework
