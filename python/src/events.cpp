// SPDX-License-Identifier: MIT
// Interrupt events from Python (events.h): records as InterruptEvent objects, waits with the GIL
// released.
#include "python/src/events.h"

#include <pybind11/stl.h>

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <cmath>
#include <vector>

#include "python/src/arguments.h"
#include "python/src/component.h"
#include "python/src/errors.h"

namespace ferrox::python {

namespace {

double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

py::list AsList(const std::vector<TInterruptEvent>& Records, std::size_t Count) {
  py::list list(Count);
  for (std::size_t i = 0; i < Count; ++i) list[i] = py::cast(Records[i]);
  return list;
}

}  // namespace

Events::Events(py::object Owner, std::size_t Capacity) : FOwner(std::move(Owner)), FComponent(&FOwner.cast<Component&>()) {
  auto attached = TInterruptEvents::Attach(FComponent->Get(), Capacity);
  if (!attached) RaiseOSError(errno, attached.error().Text());
  FEvents = std::move(*attached);
  FComponent->Attached(this);
}

void Events::Close() {
  if (!FEvents) return;
  FEvents->Detach();
  FEvents.reset();  // a wait under way holds its own reference to the descriptor
  FComponent->Detached(this);
}

TInterruptEvents& Events::Get() const {
  if (!FEvents) throw py::value_error("the interrupt events were closed");
  return *FEvents;
}

std::uint64_t Events::LostOn(std::uint32_t Line) const {
  if (Line >= IrqLineCount) OutOfRange("line", Line, 0, IrqLineCount - 1);
  return Get().Lost(static_cast<Byte>(Line));
}

py::list Events::Read(std::size_t Size) {
  std::vector<TInterruptEvent> records(Size);
  return AsList(records, Get().Read(records.data(), records.size()));
}

py::list Events::Wait(std::optional<double> Timeout, std::size_t Size) {
  if (Timeout && !(*Timeout >= 0)) throw py::value_error("timeout must be 0 or more seconds, or None");
  std::shared_ptr<TInterruptEvents> events = FEvents;
  if (!events) Get();
  std::vector<TInterruptEvent> records(Size);
  const double deadline = Timeout ? MonotonicSeconds() + *Timeout : 0;
  for (;;) {
    int left = -1;
    if (Timeout) left = static_cast<int>(std::ceil(std::max(0.0, deadline - MonotonicSeconds()) * 1000));
    pollfd readable{events->Descriptor(), POLLIN, 0};
    int ready, error;
    {
      py::gil_scoped_release unlocked;
      ready = poll(&readable, 1, left);
      error = errno;
    }
    if (ready > 0) {
      std::size_t taken = events->Read(records.data(), records.size());
      // None taken: another thread was first, or the events were closed (no writer is left).
      if (taken > 0 || left == 0 || (readable.revents & POLLHUP)) return AsList(records, taken);
    } else if (ready == 0) {
      return py::list();
    } else if (error != EINTR) {
      RaiseOSError(error, "waiting for interrupt events");
    } else if (PyErr_CheckSignals() != 0) {
      throw py::error_already_set();
    }
  }
}

void BindEvents(py::module_& Module) {
  py::class_<TInterruptEvent>(Module, "InterruptEvent", "One interrupt as the handler recorded it.")
      .def_readonly("line", &TInterruptEvent::Line, "The IRQ line, 0..15.")
      .def_readonly("sequence", &TInterruptEvent::Sequence,
                    "The line's interrupts since the events were attached, this one included: a gap shows lost ones.")
      .def_property_readonly("time", [](const TInterruptEvent& E) { return E.Time / 1e9; },
                             "When the handler ran, in seconds of time.monotonic().")
      .def_readonly("time_ns", &TInterruptEvent::Time, "The same, in nanoseconds of time.monotonic_ns().")
      .def("__repr__", [](const TInterruptEvent& E) {
        return "InterruptEvent(line=" + std::to_string(E.Line) + ", sequence=" + std::to_string(E.Sequence) +
               ", time=" + std::to_string(E.Time / 1e9) + ")";
      });

  py::class_<Events>(Module, "_InterruptEvents")
      .def(py::init<py::object, std::size_t>(), py::arg("component"), py::arg("capacity") = TInterruptEvents::DefaultCapacity)
      .def("close", &Events::Close, "Detaches from the component: its previous OnHwInterrupt comes back.")
      .def_property_readonly("closed", &Events::Closed)
      .def("fileno", &Events::Descriptor, "The descriptor to wait on (selectors, asyncio's add_reader).")
      .def_property_readonly("capacity", &Events::Capacity, "Records the pipe holds before interrupts are lost.")
      .def_property_readonly("lost", &Events::Lost, "Interrupts lost because nobody read in time, all lines.")
      .def("lost_on", &Events::LostOn, py::arg("line"), "Interrupts lost on one line.")
      .def_property_readonly("handler", &Events::Handler, "The OnHwInterrupt these events assigned.")
      .def("read", &Events::Read, py::arg("size") = 4096, "The records waiting, oldest first, without waiting.")
      .def("wait", &Events::Wait, py::arg("timeout") = py::none(), py::arg("size") = 4096,
           "Waits up to timeout seconds (None: no limit) for records, then returns those waiting ([] on timeout).");
}

}  // namespace ferrox::python
