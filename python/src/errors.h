// SPDX-License-Identifier: MIT
// Failures as Python sees them: OSError with the errno, which Python turns into its subclass
// (PermissionError, FileNotFoundError, ...), and the reason a driver that did not open gives.
#pragma once

#include <string>

namespace ferrox::python {

// Raises OSError(Error, Message[, Filename]).
[[noreturn]] void RaiseOSError(int Error, const std::string& Message, const char* Filename = nullptr);

// What it usually means when "/dev/ferrox" does not open with Error, after the errno's own text:
// the one place that says it, for the doctor's reasons to take over.
std::string DriverOpenReason(int Error);

}  // namespace ferrox::python
