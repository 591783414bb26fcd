// SPDX-License-Identifier: MIT
// The lock under which components come and go: the module-wide records are leased and given back,
// the process-wide permissions withdrawn and the interrupt registry changed, from any thread. It
// is built on an atomic rather than the C library's mutexes, which the library does not call, and
// is recursive: a component destroyed from an OnHwInterrupt that interrupted this thread while it
// held the lock finds the lock its own. The handler of signal 44 never takes it.
#pragma once

#include <atomic>

#include "ferrox/hwtypes/Export.h"

namespace ferrox::detail {

class ComponentsLock {
 public:
  void lock() {
    const void* self = &ThisThread;
    if (FOwner.load(std::memory_order_relaxed) == self) {
      ++FDepth;
      return;
    }
    const void* none = nullptr;
    while (!FOwner.compare_exchange_weak(none, self, std::memory_order_acquire, std::memory_order_relaxed)) {
      none = nullptr;
      __builtin_ia32_pause();
    }
    FDepth = 1;
  }

  void unlock() {
    if (--FDepth == 0) FOwner.store(nullptr, std::memory_order_release);
  }

 private:
  // Its address names the thread; initial-exec TLS is reached without a call.
  [[gnu::tls_model("initial-exec")]] static constinit thread_local char ThisThread;
  std::atomic<const void*> FOwner{nullptr};
  unsigned FDepth = 0;
};

extern constinit FERROX_INTERNAL ComponentsLock TheComponentsLock;

}  // namespace ferrox::detail
