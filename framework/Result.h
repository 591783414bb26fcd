// Value-or-error results of the framework's fallible operations (form streaming, package loading).
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace framework {

struct Error {
  std::string Message;
  int Line = 0;  // the form or description line at fault, 0 when none applies

  // "line 3: ..." when a line is known, the bare message otherwise.
  std::string Text() const { return Line > 0 ? "line " + std::to_string(Line) + ": " + Message : Message; }
};

template <class T>
class Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  T& operator*() { return value(); }
  T* operator->() { return &value(); }
  const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

// The result of an operation that gives back nothing but success or an error.
struct Done {};
using Status = Result<Done>;

}  // namespace framework
