// SPDX-License-Identifier: MIT
// Loading and unloading the guest's kernel modules (/lib/modules/NAME.ko) from a test program.
#pragma once

#include <string>

namespace e2e {

// Whether the module loaded with the parameters given ("name=value ...").
bool load_module(const char* name, const std::string& parameters = "");
bool unload_module(const char* name);

// Writes text into a sysfs file; whether all of it was taken.
bool write_sysfs(const std::string& path, const std::string& text);

}  // namespace e2e
