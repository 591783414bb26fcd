// SPDX-License-Identifier: MIT
// The kernel's own parallel-port stack: parport, parport_pc driving LPT1 with its interrupt, and
// ppdev, which gives programs /dev/parport0. Loaded only for the peers that go through it and
// unloaded after them, so that the programs that run later find LPT1's interrupt free again.
#pragma once

namespace peers {

class ParportStack {
 public:
  ParportStack();
  ~ParportStack();
  ParportStack(const ParportStack&) = delete;
  ParportStack& operator=(const ParportStack&) = delete;

  bool loaded() const { return loaded_ == ModuleCount; }

 private:
  static constexpr int ModuleCount = 3;
  int loaded_ = 0;  // modules loaded, in the order they depend on each other
};

}  // namespace peers
