// SPDX-License-Identifier: MIT
// Symbol visibility of libferrox-events: everything is hidden unless marked FERROX_EVENTS_API.
#pragma once

#if defined(FERROX_BUILDING_EVENTS)
#define FERROX_EVENTS_API __attribute__((visibility("default")))
#else
#define FERROX_EVENTS_API
#endif
