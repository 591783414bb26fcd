// SPDX-License-Identifier: MIT
// ferrox.InterruptEvents' C++ side: TInterruptEvents attached to a Ferrox32, held while a wait is
// under way with the GIL released, and closed before the component is freed.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>

#include "ferrox/events/InterruptEvents.h"

namespace ferrox::python {

namespace py = pybind11;

class Component;

class Events {
 public:
  Events(py::object Owner, std::size_t Capacity);
  ~Events() { Close(); }
  Events(const Events&) = delete;
  Events& operator=(const Events&) = delete;

  // Detaches from the component; a wait under way on another thread returns.
  void Close();
  bool Closed() const { return !FEvents; }

  int Descriptor() const { return Get().Descriptor(); }
  std::size_t Capacity() const { return Get().Capacity(); }
  std::uint64_t Lost() const { return Get().Lost(); }
  std::uint64_t LostOn(std::uint32_t Line) const;
  TInterruptHandler Handler() const { return Get().Handler(); }
  // The records waiting, up to Size, without waiting.
  py::list Read(std::size_t Size);
  // Waits up to Timeout seconds (None: without limit) for records, with the GIL released; Python's
  // own signals (Ctrl-C) are taken while it waits.
  py::list Wait(std::optional<double> Timeout, std::size_t Size);

 private:
  TInterruptEvents& Get() const;

  py::object FOwner;  // the Ferrox32, kept alive; declared first so that it goes last
  Component* FComponent;
  std::shared_ptr<TInterruptEvents> FEvents;
};

}  // namespace ferrox::python
