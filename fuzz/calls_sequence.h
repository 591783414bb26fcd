// SPDX-License-Identifier: MIT
// One fuzzed sequence: up to three components at once, driven by the input's choices through
// every public operation, while the virtual PC refuses, fails and interrupts as the input says.
// A broken rule ends the process with a message naming the operation.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/vpc/machine.h"
#include "fuzz/fuzz_input.h"
#include "tests/support/component.h"

namespace calls {

// Prints what went wrong and aborts.
[[noreturn]] void fail(const char* operation, const char* rule);
inline void expect(bool holds, const char* operation, const char* rule) {
  if (!holds) fail(operation, rule);
}

constexpr int SlotCount = 3;

// An OnHwInterrupt: each of a slot's two targets has a handler of its own, which checks that it
// runs on its own target (never the code of one with the object of the other), for a line 0..15,
// and only while its slot's component lives.
struct Target {
  explicit Target(bool first) : first_role(first) {}
  const bool first_role;
  std::atomic<bool> alive{false};
  ferrox::TFerrox32* component = nullptr;
  Target* other = nullptr;
  bool switch_inside = false;  // the handler changes the component's handler to the other target
  void OnFirst(ferrox::Word line);
  void OnSecond(ferrox::Word line);
  ferrox::TInterruptHandler handler() {
    return first_role ? ferrox::TInterruptHandler::Bind<&Target::OnFirst>(this)
                      : ferrox::TInterruptHandler::Bind<&Target::OnSecond>(this);
  }

 private:
  void Check(bool first_called, ferrox::Word line);
};

struct Slot {
  Component component;
  Target first{true}, second{false};
};

class Sequence {
 public:
  explicit Sequence(FuzzInput& input);
  // Runs the input's operations, then destroys what lives and checks that nothing is left.
  void run();

  FuzzInput& in;
  ferrox::vpc::Machine& pc = ferrox::vpc::Machine::instance();
  std::array<Slot, SlotCount> slots;
  std::optional<ferrox::vpc::IrqController::Hold> held;  // signals raised meanwhile come late
  std::vector<std::uint32_t> cookies;            // every cookie seen in an unmask request
  std::set<std::uint16_t> ports;                 // direct-access ports asked for

  void create(Slot& slot);
  void destroy(Slot& slot);

 private:
  void step();
  void check_after(const char* operation, const Slot& slot, bool was_open, int handle_before);
  void check_nothing_left();
};

// The operations, by the input's choice: each acts on a slot (creating it if empty), or on the
// machine.
struct Operation {
  const char* name;
  void (*run)(Sequence&, Slot&);
};
extern const Operation operations[];
extern const std::size_t operation_count;

}  // namespace calls
