// SPDX-License-Identifier: MIT
// The living components, each under the 32-bit cookie that names it to the driver in its unmask
// requests and comes back in every signal 44. The handler of signal 44 looks cookies up here, so
// a signal naming no living component (sent by another process, forged, or still queued when its
// component was destroyed) is recognised and ignored.
//
// The cookie is the component's address where an address fits in 32 bits, and otherwise a token
// that no other living component holds.
//
// The handler may run on any thread, at any moment, while the components' thread changes the
// registry; it takes no lock. Every change is published by one atomic store, so a handler that
// interrupts a change on the changing thread itself finds the registry as it was before or after
// it. The handler reads inside a read section, and a change that takes something away (a
// component, an outgrown table) waits until every read section that could still hold it has
// ended, except one that the changing thread itself is inside of (a component destroyed from its
// own OnHwInterrupt).
#pragma once

#include <cstdint>

namespace ferrox {
class TFerrox32;
}

namespace ferrox::detail {

// The components' side, from any thread: each takes TheComponentsLock. Both may
// allocate and may wait for read sections on other threads, holding the lock. Once UnregisterComponent has
// returned, no handler reads the component or runs its OnHwInterrupt any more, but for a call of
// it that the unregistering thread is itself inside of.
std::uint32_t RegisterComponent(TFerrox32* Component);
void UnregisterComponent(std::uint32_t Cookie);
std::uint32_t LivingComponents();

// The handler's side, async-signal-safe: no allocation, lock or system call, and a bounded
// number of steps. What Find returns stays alive until the section ends.
class RegistryReadSection {
 public:
  RegistryReadSection();
  ~RegistryReadSection();
  RegistryReadSection(const RegistryReadSection&) = delete;
  RegistryReadSection& operator=(const RegistryReadSection&) = delete;

  // nullptr for a cookie that names no living component.
  TFerrox32* Find(std::uint32_t Cookie) const;

 private:
  std::uint32_t FParity;
};

}  // namespace ferrox::detail
