// SPDX-License-Identifier: MIT
// Range errors and borrowed buffers (arguments.h).
#include "python/src/arguments.h"

namespace ferrox::python {

namespace {

std::string Number(long long Value) {
  if (Value < 256) return std::to_string(Value);
  char text[32];
  std::snprintf(text, sizeof text, "%#llx", Value);
  return text;
}

}  // namespace

void OutOfRange(const char* Name, long long Value, long long Low, long long High) {
  throw py::value_error(std::string(Name) + " " + Number(Value) + " is outside " + Number(Low) + ".." + Number(High));
}

BorrowedBuffer::BorrowedBuffer(py::handle Object, bool Writable, const char* Name) {
  int flags = PyBUF_C_CONTIGUOUS | (Writable ? PyBUF_WRITABLE : 0);
  if (PyObject_GetBuffer(Object.ptr(), &FView, flags) != 0) {
    PyErr_Clear();
    throw py::type_error(std::string(Name) + " must be a contiguous" + (Writable ? ", writable" : "") +
                         " buffer (bytearray, memoryview, array, numpy array" + (Writable ? "" : ", bytes") +
                         "), not " + std::string(py::str(py::type::handle_of(Object).attr("__name__"))));
  }
}

void BorrowedBuffer::Require(std::uint64_t Bytes, const char* What) const {
  if (Size() < Bytes)
    throw py::value_error(std::string(What) + " need " + std::to_string(Bytes) + " bytes; the buffer holds " +
                          std::to_string(Size()));
}

}  // namespace ferrox::python
