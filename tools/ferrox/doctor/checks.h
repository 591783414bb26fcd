// SPDX-License-Identifier: MIT
// The doctor's checks: each says ok, warning or problem about one thing between ferrox and the
// hardware, with one line of why and the command that mends it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/ferrox/doctor/system_view.h"

namespace ferrox_tool::doctor {

enum class Verdict { Ok, Warning, Problem };

struct Check {
  std::string name;  // "module", "lockdown", "LPT1", ...
  Verdict verdict = Verdict::Ok;
  std::string why;
  std::string mend = {};  // a command to run; empty when there is nothing to do
};

const char* verdict_name(Verdict verdict);

// What stands between the caller and /dev/ferrox: the kernel and architecture, the module, module
// signatures, lockdown, the node and the caller's access to it.
std::vector<Check> driver_checks(const SystemView& system);

// Whether port instructions would be allowed: lockdown, a seccomp filter, CAP_SYS_RAWIO.
Check direct_access_check(const SystemView& system);

// The first problem of the driver's checks, as one line ("module: ... (mend: ...)"), or a
// generic line when none of them explains why the node did not open.
std::string driver_problem(const SystemView& system);

}  // namespace ferrox_tool::doctor
