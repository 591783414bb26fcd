// SPDX-License-Identifier: MIT
// Value-or-error results of every fallible operation outside the component: the framework's (form
// streaming, package loading), the virtual PC's (machine files, PCI dumps, start-up), the traces'
// and the tool's. Header-only, so that each of them takes it without linking another.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace ferrox {

struct Error {
  std::string Message;
  int Line = 0;        // the form or description line at fault, 0 when none applies
  std::string Source = {};  // the file or input at fault, empty when none applies

  // "file:3: ...", "file: ...", "line 3: ..." or the bare message, as much as is known.
  std::string Text() const {
    std::string line = std::to_string(Line);
    if (!Source.empty()) return Source + ":" + (Line > 0 ? line + ":" : "") + " " + Message;
    return Line > 0 ? "line " + line + ": " + Message : Message;
  }
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

}  // namespace ferrox

// Propagation inside a function that returns a Result: the error of expr, as it is, goes to the
// caller; otherwise the function goes on (FERROX_TRY) or the value is moved into a new variable
// (FERROX_TRY_ASSIGN(Access access, parse(text))). The result lives in a variable named after the
// line, so that several of them fit in one scope.
#define FERROX_RESULT_NAME_(line) ferrox_result_##line
#define FERROX_RESULT_NAME(line) FERROX_RESULT_NAME_(line)

#define FERROX_TRY(expr)                                              \
  do {                                                                \
    if (auto FERROX_RESULT_NAME(__LINE__) = (expr); !FERROX_RESULT_NAME(__LINE__)) \
      return FERROX_RESULT_NAME(__LINE__).error();                    \
  } while (false)

#define FERROX_TRY_ASSIGN(declaration, expr)                                                     \
  auto FERROX_RESULT_NAME(__LINE__) = (expr);                                                    \
  if (!FERROX_RESULT_NAME(__LINE__)) return FERROX_RESULT_NAME(__LINE__).error();                \
  declaration = std::move(*FERROX_RESULT_NAME(__LINE__))
