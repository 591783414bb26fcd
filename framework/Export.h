// SPDX-License-Identifier: MIT
// Symbol visibility of the framework runtime library.
#pragma once

#if defined(FRAMEWORK_BUILDING_LIBRARY)
#define FRAMEWORK_API __attribute__((visibility("default")))
#else
#define FRAMEWORK_API
#endif
