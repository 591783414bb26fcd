// SPDX-License-Identifier: MIT
// The one path an interposer takes over: opens of any other path go on to the next definition.
#pragma once

#include <cstring>

#include "ferrox/hwtypes/DriverContract.h"

namespace ferrox::interpose {

inline bool is_device_path(const char* path) { return path && std::strcmp(path, ferrox::DriverDevicePath) == 0; }

}  // namespace ferrox::interpose
