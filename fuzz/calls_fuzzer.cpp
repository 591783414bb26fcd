// SPDX-License-Identifier: MIT
// Fuzz target: random sequences of every public operation of TFerrox32, on up to three
// components at once, on a virtual PC that refuses, fails and interrupts as the input says. After
// every operation: a component whose driver was closed sent nothing, every request went to the
// open driver of the component that made it, and each open driver holds one descriptor. After the
// sequence, with every component destroyed: no descriptor, window, interrupt listener or raised
// privilege is left, and the heap is back where it started.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>
#include <vector>

#include "ferrox/vpc/kernel/signal_delivery.h"
#include "fuzz/calls_sequence.h"
#include "tests/support/heap.h"

namespace calls {

namespace {

constexpr int MostSteps = 96;
constexpr std::size_t MostCookies = 64;
// Direct access granted for a port below 0x400 covers it and the three above it, and stays.
constexpr std::uint16_t FirstPortNeverGrantedToStay = 0x403;

bool is_driver_event(ferrox::vpc::Event event) {
  return event == ferrox::vpc::Event::Open || event == ferrox::vpc::Event::Close || event == ferrox::vpc::Event::Request;
}

std::size_t open_drivers(const std::array<Slot, SlotCount>& slots) {
  std::size_t open = 0;
  for (const Slot& slot : slots) open += slot.component && slot.component->DriverActive();
  return open;
}

}  // namespace

void fail(const char* operation, const char* rule) {
  std::fprintf(stderr, "call sequence: %s: %s\n", operation, rule);
  std::abort();
}

void Target::OnFirst(ferrox::Word line) { Check(true, line); }
void Target::OnSecond(ferrox::Word line) { Check(false, line); }

void Target::Check(bool first_called, ferrox::Word line) {
  expect(first_called == first_role, "OnHwInterrupt", "called one target's code with the other's object");
  expect(line < ferrox::IrqLineCount, "OnHwInterrupt", "called for a line past 15");
  expect(alive, "OnHwInterrupt", "called after its component was destroyed");
  if (switch_inside) component->SetOnHwInterrupt(other->handler());
}

Sequence::Sequence(FuzzInput& input) : in(input) {
  for (Slot& slot : slots) {
    slot.first.other = &slot.second;
    slot.second.other = &slot.first;
  }
}

void Sequence::create(Slot& slot) {
  slot.component = make_component();
  for (Target* target : {&slot.first, &slot.second}) {
    target->component = slot.component.get();
    target->alive = true;
  }
}

void Sequence::destroy(Slot& slot) {
  slot.component.reset();
  slot.first.alive = slot.second.alive = false;
}

void Sequence::run() {
  for (int step_count = 0; step_count < MostSteps && !in.empty(); ++step_count) step();
  for (Slot& slot : slots)
    if (slot.component) destroy(slot);
  held.reset();  // signals for the components just destroyed
  check_nothing_left();
}

void Sequence::step() {
  Slot& slot = slots[in.below(SlotCount)];
  pc.log().clear();
  if (!slot.component) {
    create(slot);
    check_after("create", slot, false, -1);
    return;
  }
  const Operation& operation = operations[in.below(operation_count)];
  bool was_open = slot.component->DriverActive();
  int handle = slot.component->DriverHandle();
  operation.run(*this, slot);
  check_after(operation.name, slot, was_open, handle);
}

// Requests go to the descriptor the component held before the operation (closing or destroying
// it) or after it (opening it).
void Sequence::check_after(const char* operation, const Slot& slot, bool was_open, int handle_before) {
  bool opened_now = std::string_view(operation) == "OpenDriver";
  int handle_after = slot.component ? slot.component->DriverHandle() : -1;
  for (const ferrox::vpc::LogEntry& entry : pc.log().entries()) {
    if (!was_open && !opened_now) expect(!is_driver_event(entry.event), operation, "reached the driver while it was closed");
    if (entry.event != ferrox::vpc::Event::Request) continue;
    bool own = (was_open && entry.fd == handle_before) || (opened_now && entry.fd == handle_after);
    expect(entry.error != EBADF && own, operation, "sent a request on a descriptor not its open driver");
    // A request failed before the driver read it logs no record.
    if (entry.code == ferrox::Request::IrqUnmask && !entry.sent.empty() && cookies.size() < MostCookies)
      cookies.push_back(entry.sent_as<ferrox::TIrqRequest>().Component);
  }
  expect(pc.node().open_files() == open_drivers(slots), operation, "descriptors differ from open drivers");
}

void Sequence::check_nothing_left() {
  expect(pc.node().open_files() == 0, "the last destruction", "left a descriptor open");
  expect(pc.windows().live_windows() == 0, "the last destruction", "left a window mapped");
  expect(pc.irqs().listeners().empty(), "the last destruction", "left an interrupt listener");
  expect(pc.privilege().level() == 0, "the last destruction", "left the I/O privilege level raised");
  for (std::uint16_t port : ports)
    if (port >= FirstPortNeverGrantedToStay) expect(!pc.privilege().holds(port, 1), "the last destruction", "left a port granted");
}

namespace {

// The machine a sequence runs on differs in what the kernel grants.
ferrox::vpc::MachineDescription machine_for(FuzzInput& in) {
  static const ferrox::vpc::PrivilegeDescription privileges[] = {{0, 0}, {EPERM, 0}, {0, EPERM}, {EPERM, EPERM}, {ENOSYS, ENOSYS}};
  ferrox::vpc::MachineDescription machine = ferrox::vpc::default_machine();
  machine.privilege = in.pick(privileges);
  return machine;
}

// The machine as new, with a log that holds no memory from earlier sequences.
void fresh(const ferrox::vpc::MachineDescription& machine) {
  ferrox::vpc::Machine& pc = ferrox::vpc::Machine::instance();
  pc.reset(machine);
  pc.log() = ferrox::vpc::RequestLog{};
}

// Runs a sequence on a fresh machine; says by how much the heap grew.
long long heap_growth(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  ferrox::vpc::MachineDescription machine = machine_for(in);
  fresh(machine);
  std::size_t before = heap_in_use();
  {
    Sequence sequence(in);
    sequence.run();
  }
  fresh(machine);
  return static_cast<long long>(heap_in_use()) - static_cast<long long>(before);
}

// The heap must be left as it was found (where it is counted exactly: under a sanitizer). The
// virtual PC keeps the room its tables once needed, so a sequence that needs more room than any
// before grows the heap once: run again, it must not.
void run_sequence(const std::uint8_t* data, std::size_t size) {
  if (heap_growth(data, size) == 0 || !heap_count_is_exact) return;
  if (long long again = heap_growth(data, size); again != 0) {
    std::fprintf(stderr, "call sequence: the heap grew by %lld bytes, and again by as much on the same calls\n", again);
    fail("the sequence", "left the heap other than it found it");
  }
}

}  // namespace

}  // namespace calls

// Memory taken once for good (the library's class information, the virtual PC's tables at their
// largest, the port trap) is taken here, by sequences of every kind, before any sequence is judged.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ferrox::vpc::kernel_delivers_signals();
  std::mt19937 random(0x5EED);
  std::vector<std::uint8_t> input;
  for (int warm_up = 0; warm_up < 500; ++warm_up) {
    input.resize(random() % 1024);
    for (std::uint8_t& byte : input) byte = static_cast<std::uint8_t>(random());
    calls::heap_growth(input.data(), input.size());
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  calls::run_sequence(data, size);
  return 0;
}
