// SPDX-License-Identifier: MIT
// Symbol visibility of libferrox: everything is hidden unless marked FERROX_API.
#pragma once

#if defined(FERROX_BUILDING_LIBRARY)
#define FERROX_API __attribute__((visibility("default")))
#else
#define FERROX_API
#endif

// A member of an exported class that is no part of the library's interface: called inside the
// library directly, never through its procedure linkage table.
#define FERROX_INTERNAL __attribute__((visibility("hidden")))
