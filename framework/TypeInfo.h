// SPDX-License-Identifier: MIT
// Run-time type information of component classes: the published properties each class declares
// in order (name, type, read and write accessors, default, stored) and the published methods a
// form offers to the events of its components. Form streaming and the designer work from these.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <variant>
#include <vector>

#include "ferrox/framework/Export.h"
#include "ferrox/framework/TComponent.h"

namespace ferrox::framework {

// A method of an object as events hold it: the code and the object it runs on. The code is kept
// as a generic pointer; CodeType in the property and the published method names its real type,
// and the value is only ever called after a cast back to that type.
struct TMethod {
  using CodePointer = void (*)();
  CodePointer Code = nullptr;
  void* Data = nullptr;

  // Spelled out rather than defaulted, so that C++17 programs can include this header.
  friend bool operator==(const TMethod& a, const TMethod& b) { return a.Code == b.Code && a.Data == b.Data; }
  friend bool operator!=(const TMethod& a, const TMethod& b) { return !(a == b); }
};

enum class TTypeKind { Boolean, Ordinal, Method };

using TValue = std::variant<bool, std::int64_t, TMethod>;

struct TPropertyInfo {
  std::string Name;
  TTypeKind Kind = TTypeKind::Ordinal;
  std::int64_t MinValue = 0;  // ordinals: the range the type holds
  std::int64_t MaxValue = 0;
  const std::type_info* CodeType = nullptr;  // events: the type of the handler's code pointer
  std::function<TValue(const TComponent&)> Read;
  std::function<void(TComponent&, const TValue&)> Write;
  std::optional<TValue> Default;  // none for events: an assigned handler is always stored
  bool Stored = true;
};

// A method of a form that events can be bound to by name.
struct TPublishedMethod {
  std::string Name;
  const std::type_info* CodeType = nullptr;
  TMethod::CodePointer Code = nullptr;  // called with the form (as TComponent*) as its object
};

struct FRAMEWORK_API TClassInfo {
  std::string ClassName;
  const std::type_info* Type = nullptr;
  TComponent* (*Create)(TComponent* AOwner) = nullptr;  // the framework's ordinary construction
  std::vector<TPropertyInfo> Properties;
  std::vector<TPublishedMethod> Methods;

  const TPropertyInfo* FindProperty(std::string_view Name) const;
  const TPublishedMethod* FindMethod(std::string_view Name) const;
  const TPublishedMethod* FindMethod(TMethod::CodePointer Code) const;
};

// The event value of a form's published method, bound to that form.
FRAMEWORK_API std::optional<TMethod> MethodOf(TComponent& Form, const TClassInfo& FormClass, std::string_view Name);

// ---- Declaring classes, properties and methods ----

template <class C>
TClassInfo ComponentClass(std::string ClassName, std::vector<TPropertyInfo> Properties,
                          std::vector<TPublishedMethod> Methods = {}) {
  return TClassInfo{std::move(ClassName), &typeid(C),
                    [](TComponent* AOwner) -> TComponent* { return TComponent::Create<C>(AOwner); },
                    std::move(Properties), std::move(Methods)};
}

template <class C>
TPropertyInfo BooleanProperty(std::string Name, bool (C::*Read)() const, void (C::*Write)(bool), bool Default) {
  TPropertyInfo info;
  info.Name = std::move(Name);
  info.Kind = TTypeKind::Boolean;
  info.Read = [Read](const TComponent& c) -> TValue { return (static_cast<const C&>(c).*Read)(); };
  info.Write = [Write](TComponent& c, const TValue& v) { (static_cast<C&>(c).*Write)(std::get<bool>(v)); };
  info.Default = Default;
  return info;
}

template <class C, class T>
TPropertyInfo OrdinalProperty(std::string Name, T (C::*Read)() const, void (C::*Write)(T), T Default) {
  static_assert(std::is_integral_v<T> && sizeof(T) < sizeof(std::int64_t));
  TPropertyInfo info;
  info.Name = std::move(Name);
  info.Kind = TTypeKind::Ordinal;
  info.MinValue = std::numeric_limits<T>::min();
  info.MaxValue = std::numeric_limits<T>::max();
  info.Read = [Read](const TComponent& c) -> TValue { return std::int64_t{(static_cast<const C&>(c).*Read)()}; };
  info.Write = [Write](TComponent& c, const TValue& v) {
    (static_cast<C&>(c).*Write)(static_cast<T>(std::get<std::int64_t>(v)));
  };
  info.Default = std::int64_t{Default};
  return info;
}

// An event: Event is a (Code, Data) pair whose Code is a plain function pointer taking the object
// first.
template <class C, class Event>
TPropertyInfo EventProperty(std::string Name, Event (C::*Read)() const, void (C::*Write)(Event)) {
  using Code = decltype(Event::Code);
  TPropertyInfo info;
  info.Name = std::move(Name);
  info.Kind = TTypeKind::Method;
  info.CodeType = &typeid(Code);
  info.Read = [Read](const TComponent& c) -> TValue {
    Event event = (static_cast<const C&>(c).*Read)();
    return TMethod{reinterpret_cast<TMethod::CodePointer>(event.Code), event.Data};
  };
  info.Write = [Write](TComponent& c, const TValue& v) {
    const TMethod& method = std::get<TMethod>(v);
    Event event;
    event.Code = reinterpret_cast<Code>(method.Code);
    event.Data = method.Data;
    (static_cast<C&>(c).*Write)(event);
  };
  return info;
}

namespace detail {

template <auto Method, class Form, class R, class... Args>
TPublishedMethod Publish(std::string Name, R (Form::*)(Args...)) {
  R (*code)(void*, Args...) = [](void* form, Args... args) -> R {
    return (static_cast<Form*>(static_cast<TComponent*>(form))->*Method)(args...);
  };
  return TPublishedMethod{std::move(Name), &typeid(code), reinterpret_cast<TMethod::CodePointer>(code)};
}

}  // namespace detail

// A form's published method: PublishedMethod<&TMainForm::Ferrox1HwInterrupt>("Ferrox1HwInterrupt").
template <auto Method>
TPublishedMethod PublishedMethod(std::string Name) {
  return detail::Publish<Method>(std::move(Name), Method);
}

}  // namespace ferrox::framework
