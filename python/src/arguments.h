// SPDX-License-Identifier: MIT
// Arguments from Python as the component takes them: integers that must fit the C++ type (a value
// that does not is refused with ValueError, never cut to fit), and buffers of any object with the
// buffer protocol, borrowed for the length of one call.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

namespace ferrox::python {

namespace py = pybind11;

// An integer argument of type T: anything with __index__ (int, numpy integers) in T's range.
template <class T>
struct Checked {
  T Value;
  operator T() const { return Value; }
};

// A contiguous buffer of Object, writable if asked for; released when this goes.
class BorrowedBuffer {
 public:
  BorrowedBuffer(py::handle Object, bool Writable, const char* Name);
  ~BorrowedBuffer() { PyBuffer_Release(&FView); }
  BorrowedBuffer(const BorrowedBuffer&) = delete;
  BorrowedBuffer& operator=(const BorrowedBuffer&) = delete;

  void* Data() const { return FView.buf; }
  std::size_t Size() const { return static_cast<std::size_t>(FView.len); }
  // ValueError unless the buffer holds at least Bytes.
  void Require(std::uint64_t Bytes, const char* What) const;

 private:
  Py_buffer FView{};
};

// ValueError "NAME VALUE is outside LOW..HIGH" (numbers in hexadecimal where that reads better).
[[noreturn]] void OutOfRange(const char* Name, long long Value, long long Low, long long High);

}  // namespace ferrox::python

namespace pybind11::detail {

template <class T>
struct type_caster<ferrox::python::Checked<T>> {
  static_assert(std::is_integral_v<T> && sizeof(T) <= 4);
  PYBIND11_TYPE_CASTER(ferrox::python::Checked<T>, const_name("int"));

  // Not an integer: no match, which Python reports as a TypeError. An integer out of T's range:
  // ValueError at once.
  bool load(handle source, bool) {
    PyObject* index = PyNumber_Index(source.ptr());
    if (!index) {
      PyErr_Clear();
      return false;
    }
    int overflow = 0;
    long long number = PyLong_AsLongLongAndOverflow(index, &overflow);
    Py_DECREF(index);
    constexpr long long low = std::numeric_limits<T>::min(), high = std::numeric_limits<T>::max();
    if (overflow != 0 || number < low || number > high)
      ferrox::python::OutOfRange("argument", overflow > 0 ? high + 1 : overflow < 0 ? low - 1 : number, low, high);
    value.Value = static_cast<T>(number);
    return true;
  }

  static handle cast(ferrox::python::Checked<T> source, return_value_policy, handle) {
    return PyLong_FromLongLong(source.Value);
  }
};

}  // namespace pybind11::detail
