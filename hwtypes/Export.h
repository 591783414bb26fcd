// Symbol visibility of libferrox: everything is hidden unless marked FERROX_API.
#pragma once

#if defined(FERROX_BUILDING_LIBRARY)
#define FERROX_API __attribute__((visibility("default")))
#else
#define FERROX_API
#endif
