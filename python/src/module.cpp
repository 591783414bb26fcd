// SPDX-License-Identifier: MIT
// The extension module ferrox._ferrox, which the package ferrox presents.
#include <pybind11/pybind11.h>

#include "python/src/component.h"

PYBIND11_MODULE(_ferrox, module) {
  module.doc() = "The C++ side of the ferrox package: TFerrox32 and its records, interrupt events, the virtual PC.";
  ferrox::python::BindRecords(module);
  ferrox::python::BindEvents(module);
  ferrox::python::BindComponent(module);
  ferrox::python::BindVirtualPc(module);
}
