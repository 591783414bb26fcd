// SPDX-License-Identifier: MIT
// Facts of the emulated PC that e2e/run.sh builds, which the guest programs rely on.
#pragma once

namespace e2e {

// The run script gives the primary master disk this model name.
constexpr const char* DiskModel = "FERROX E2E DISK";

}  // namespace e2e
