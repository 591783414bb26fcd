// SPDX-License-Identifier: MIT
// OSError from errno, and the reasons a driver does not open (errors.h).
#include "python/src/errors.h"

#include <pybind11/pybind11.h>

#include <cerrno>
#include <cstring>


namespace ferrox::python {

namespace py = pybind11;

void RaiseOSError(int Error, const std::string& Message, const char* Filename) {
  py::object error = Filename ? py::reinterpret_steal<py::object>(PyObject_CallFunction(
                                    PyExc_OSError, "iss", Error, Message.c_str(), Filename))
                              : py::reinterpret_steal<py::object>(
                                    PyObject_CallFunction(PyExc_OSError, "is", Error, Message.c_str()));
  if (!error) throw py::error_already_set();
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  throw py::error_already_set();
}

std::string DriverOpenReason(int Error) {
  std::string said = std::string(std::strerror(Error)) + ": ";
  switch (Error) {
    case ENOENT:
      return said + "the ferrox driver is not loaded (modprobe ferrox), or run on the virtual PC "
                    "(LD_PRELOAD=libferrox-vpc.so.0)";
    case EACCES:
      return said + "this user may not open the node: the udev rule gives it to the group ferrox, of which "
                    "this user must be a member";
    case EPERM:
      return said + "opening it needs CAP_SYS_RAWIO, and a kernel that is not locked down";
    case ENODEV:
    case ENXIO:
      return said + "no driver answers the node (a stale node, or a virtual PC that did not start)";
    default:
      return said + "the driver did not open";
  }
}

}  // namespace ferrox::python
