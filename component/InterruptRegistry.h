// The living components, each under the 32-bit cookie that names it to the driver in its unmask
// requests and comes back in every signal 44. The handler of signal 44 looks cookies up here, so
// a signal naming no living component (sent by another process, forged, or still queued when its
// component was destroyed) is recognised and ignored.
//
// The cookie is the component's address where an address fits in 32 bits, and otherwise a token
// that no other living component holds.
#pragma once

#include <cstdint>

namespace ferrox {
class TFerrox32;
}

namespace ferrox::detail {

// Both run on the components' thread and may allocate. A lookup interrupted by a signal on that
// thread sees the registry either before or after the change.
std::uint32_t RegisterComponent(TFerrox32* Component);
void UnregisterComponent(std::uint32_t Cookie);

// Async-signal-safe: no allocation, lock or system call, and a bounded number of steps.
// Returns nullptr for a cookie that names no living component.
TFerrox32* FindComponent(std::uint32_t Cookie);

}  // namespace ferrox::detail
