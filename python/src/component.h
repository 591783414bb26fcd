// SPDX-License-Identifier: MIT
// The C++ side of ferrox.Ferrox32: the component it creates and frees, the errno its last call
// left, and the interrupt events attached to it, which must go before it does.
#pragma once

#include <pybind11/pybind11.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/events/InterruptEvents.h"

namespace ferrox::python {

namespace py = pybind11;

class Events;

class Component {
 public:
  Component();
  ~Component() { Free(); }
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  // The component; ValueError once it was freed.
  TFerrox32& Get() {
    if (!FComponent) ThrowFreed();
    return *FComponent;
  }
  bool Freed() const { return !FComponent; }
  // Detaches the events, then frees the component the framework's way (closing the driver).
  void Free();

  // Runs Call on the component with errno cleared, and keeps the errno it left: the component
  // reports no failure itself, so the convenience layer reads what the C library said. The GIL is
  // held throughout: it is what keeps another thread's call off the module-wide records meanwhile.
  template <class Call>
  auto Calling(Call&& call) {
    TFerrox32& component = Get();
    errno = 0;
    if constexpr (std::is_void_v<decltype(call(component))>) {
      call(component);
      FLastError = errno;
    } else {
      auto result = call(component);
      FLastError = errno;
      return result;
    }
  }
  int LastError() const { return FLastError; }

  void Attached(Events* AttachedEvents) { FEvents.push_back(AttachedEvents); }
  void Detached(Events* DetachedEvents);

 private:
  [[noreturn]] static void ThrowFreed();

  TFerrox32* FComponent;
  int FLastError = 0;
  std::vector<Events*> FEvents;
};

void BindComponent(py::module_& Module);
void BindRecords(py::module_& Module);
void BindEvents(py::module_& Module);
void BindVirtualPc(py::module_& Module);

}  // namespace ferrox::python
