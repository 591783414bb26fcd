// SPDX-License-Identifier: MIT
// The trap handler: decodes the faulting port instruction and carries it out on the port bus.
//
// The handler runs synchronously on the faulting port instruction, which lies in the library's
// port code and never inside the allocator or a lock held by the interrupted thread; that is why
// it may log and call the devices as a driver request does.
#include "ferrox/vpc/kernel/port_trap.h"

#include <signal.h>
#include <ucontext.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <span>
#include <type_traits>
#include <vector>

#include "ferrox/interpose/next_symbol.h"
#include "ferrox/vpc/kernel/replay.h"
#include "ferrox/vpc/kernel/user_memory.h"
#include "ferrox/vpc/machine.h"

namespace ferrox::vpc {

namespace {

#if defined(__x86_64__)
constexpr int InstructionPointer = REG_RIP, Accumulator = REG_RAX, Counter = REG_RCX, PortRegister = REG_RDX,
              SourceIndex = REG_RSI, DestinationIndex = REG_RDI, Flags = REG_EFL;
#elif defined(__i386__)
constexpr int InstructionPointer = REG_EIP, Accumulator = REG_EAX, Counter = REG_ECX, PortRegister = REG_EDX,
              SourceIndex = REG_ESI, DestinationIndex = REG_EDI, Flags = REG_EFL;
#endif
constexpr std::uint64_t DirectionFlag = 1u << 10;

constexpr int TrappedSignals[] = {SIGSEGV, SIGBUS, SIGILL};
struct sigaction previous_actions[sizeof TrappedSignals / sizeof TrappedSignals[0]];
// Set once the handler is installed for all three, cleared when a fault is left to the default
// action, which puts the previous action back.
volatile sig_atomic_t trap_in_place = 0;

std::uint64_t low_bits(std::uint64_t value, unsigned bits) { return bits >= 64 ? value : value & ((1ull << bits) - 1); }

std::uint64_t read_register(const greg_t* registers, int index, unsigned bits) {
  return low_bits(static_cast<std::make_unsigned_t<greg_t>>(registers[index]), bits);
}

// A write of the low `bits` of a register, as the processor does it: a 32-bit write on x86_64
// clears the upper half, narrower writes keep the bits above them.
void write_register(greg_t* registers, int index, std::uint64_t value, unsigned bits) {
  auto old = static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<greg_t>>(registers[index]));
  std::uint64_t merged = bits >= 32 ? low_bits(value, bits) : (old & ~low_bits(~0ull, bits)) | low_bits(value, bits);
  registers[index] = static_cast<greg_t>(merged);
}

std::atomic<vpc_port_watcher> port_watcher{nullptr};

// Where the elements of a trapped instruction go and come from: the machine's port bus...
struct MachinePorts {
  PortBus& bus;
  std::uint32_t read(std::uint16_t port, unsigned width) { return bus.read(port, width); }
  void write(std::uint16_t port, unsigned width, std::uint32_t value) { bus.write(port, width, value); }
  void finished(Event, std::uint16_t, unsigned, std::uint64_t, std::uint32_t, const void*) {}
};

// ...or, in a replay, the recording: an input gets the recorded elements (all ones past them, as a
// port nobody answers), an output is held to the recorded one once all its elements are written.
class ReplayedPorts {
 public:
  ReplayedPorts(Replay& replay, std::vector<std::uint8_t> input) : replay_(replay), input_(std::move(input)) {}

  std::uint32_t read(std::uint16_t, unsigned width) {
    std::uint32_t value = ~0u;
    if (next_ + width <= input_.size()) std::memcpy(&value, input_.data() + next_, width);  // little-endian
    next_ += width;
    return value;
  }
  void write(std::uint16_t, unsigned, std::uint32_t) {}
  void finished(Event event, std::uint16_t port, unsigned width, std::uint64_t count, std::uint32_t value,
                const void* data) {
    if (event != Event::PortOut) return;
    std::span<const std::uint8_t> elements;
    if (data) elements = {static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(width * count)};
    replay_.port_output(port, width, static_cast<std::uint32_t>(count), value, elements);
  }

 private:
  Replay& replay_;
  std::vector<std::uint8_t> input_;
  std::size_t next_ = 0;
};

template <class Ports>
void log_transfer(Ports& ports, Event event, std::uint16_t port, unsigned width, std::uint64_t count,
                  std::uint32_t value, const void* data = nullptr) {
  ports.finished(event, port, width, count, value, data);
  if (vpc_port_watcher watch = port_watcher.load(std::memory_order_acquire))
    watch(event == Event::PortOut, port, width, static_cast<unsigned>(count), value, data);
  RequestLog& log = Machine::instance().log();
  if (!log.recording()) return;
  LogEntry entry;
  entry.event = event;
  entry.port = port;
  entry.width = width;
  entry.count = static_cast<std::uint32_t>(count);
  entry.value = value;
  log.add(entry);
}

template <class Ports>
void transfer_single(greg_t* registers, const PortInstruction& instruction, std::uint16_t port, Ports& ports) {
  unsigned bits = 8 * instruction.width;
  if (instruction.kind == PortInstruction::Kind::In) {
    std::uint32_t value = ports.read(port, instruction.width);
    write_register(registers, Accumulator, value, bits);
    log_transfer(ports, Event::PortIn, port, instruction.width, 1, value);
  } else {
    auto value = static_cast<std::uint32_t>(read_register(registers, Accumulator, bits));
    ports.write(port, instruction.width, value);
    log_transfer(ports, Event::PortOut, port, instruction.width, 1, value);
  }
}

std::uint64_t element_count(const greg_t* registers, const PortInstruction& instruction) {
  return instruction.repeated ? read_register(registers, Counter, instruction.address_bits) : 1;
}

// INS stores at ES:DI, OUTS loads from DS:SI (flat in user space); the index moves by one element
// per transfer, down when the direction flag is set, and a repeated form runs CX down to 0.
template <class Ports>
void transfer_string(greg_t* registers, const PortInstruction& instruction, std::uint16_t port, Ports& ports) {
  bool input = instruction.kind == PortInstruction::Kind::Ins;
  int index = input ? DestinationIndex : SourceIndex;
  unsigned bits = instruction.address_bits;
  std::uint64_t count = element_count(registers, instruction);
  bool downward = static_cast<std::uint64_t>(registers[Flags]) & DirectionFlag;
  std::uint64_t address = read_register(registers, index, bits);
  const void* elements = downward ? nullptr : reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
  for (std::uint64_t element = 0; element < count; ++element) {
    auto* memory = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(address));
    std::uint32_t value = 0;
    if (input) {
      value = ports.read(port, instruction.width);
      std::memcpy(memory, &value, instruction.width);  // little-endian: the low bytes
    } else {
      std::memcpy(&value, memory, instruction.width);
      ports.write(port, instruction.width, value);
    }
    address = low_bits(downward ? address - instruction.width : address + instruction.width, bits);
  }
  write_register(registers, index, address, bits);
  if (instruction.repeated) write_register(registers, Counter, 0, bits);
  log_transfer(ports, input ? Event::PortIn : Event::PortOut, port, instruction.width, count, 0, elements);
}

template <class Ports>
void transfer(greg_t* registers, const PortInstruction& instruction, std::uint16_t port, Ports& ports) {
  bool single = instruction.kind == PortInstruction::Kind::In || instruction.kind == PortInstruction::Kind::Out;
  if (single)
    transfer_single(registers, instruction, port, ports);
  else
    transfer_string(registers, instruction, port, ports);
}

// Carries out the port instruction at the instruction pointer; false when there is none, when
// the process does not hold its ports, or where the machine is held elsewhere (a forked child's
// copy is not its parent's devices).
bool emulate(greg_t* registers) {
  const auto* code = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(registers[InstructionPointer]));
  std::optional<PortInstruction> instruction = decode_port_instruction(code);
  if (!instruction) return false;
  auto port = instruction->port_in_dx ? static_cast<std::uint16_t>(read_register(registers, PortRegister, 16))
                                      : instruction->immediate;
  Machine& machine = Machine::instance();
  if (machine.refuses_this_process()) return false;
  std::lock_guard serving(machine.serving());
  if (!machine.privilege().holds(port, instruction->width)) return false;
  // An interrupt the instruction raises (a port's acknowledge) is signalled once it is done.
  IrqController::Hold hold(machine.irqs());
  if (Replay* replay = machine.node().replay()) {
    bool input = instruction->kind == PortInstruction::Kind::In || instruction->kind == PortInstruction::Kind::Ins;
    auto count = static_cast<std::uint32_t>(element_count(registers, *instruction));
    ReplayedPorts ports(*replay, input ? replay->port_input(port, instruction->width, count) : std::vector<std::uint8_t>{});
    transfer(registers, *instruction, port, ports);
  } else {
    MachinePorts ports{machine.ports()};
    transfer(registers, *instruction, port, ports);
  }
  registers[InstructionPointer] += static_cast<greg_t>(instruction->length);
  return true;
}

int slot_of(int signal) { return signal == SIGSEGV ? 0 : signal == SIGBUS ? 1 : 2; }
bool is_trapped(int signal) { return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL; }

// Hands a fault that is not ours to what was installed before, staying in place for the port
// instructions that follow. The default action is had by putting it back and returning, so the
// instruction faults again, for real.
void pass_on(int signal, siginfo_t* info, void* context) {
  const struct sigaction& before = previous_actions[slot_of(signal)];
  if (before.sa_flags & SA_SIGINFO) {
    before.sa_sigaction(signal, info, context);
  } else if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN) {
    before.sa_handler(signal);
  } else {
    trap_in_place = 0;
    interpose::next::sigaction(signal, &before, nullptr);
  }
}

bool end_copy(greg_t* registers) {
  auto instruction = static_cast<std::uintptr_t>(registers[InstructionPointer]);
  if (!end_copy_at_fault(instruction)) return false;
  registers[InstructionPointer] = static_cast<greg_t>(instruction);
  return true;
}

void on_trap(int signal, siginfo_t* info, void* context) {
  auto* registers = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  if (signal != SIGILL && end_copy(registers)) return;
  // A port instruction without permission is a general protection fault, which the kernel
  // reports as SI_KERNEL; page faults and the rest are never port instructions.
  bool candidate = signal == SIGILL || info->si_code == SI_KERNEL;
  if (!(candidate && emulate(registers))) pass_on(signal, info, context);
}

// Through whatever interposes sigaction in front of the virtual PC (a sanitizer's runtime), which
// shows the handler as installed.
bool is_armed(int signal) {
  struct sigaction current {};
  sigaction(signal, nullptr, &current);
  return (current.sa_flags & SA_SIGINFO) && current.sa_sigaction == on_trap;
}

}  // namespace

void watch_port_instructions(vpc_port_watcher watch) { port_watcher.store(watch, std::memory_order_release); }

void arm_fault_handler() {
  struct sigaction trap {};
  trap.sa_sigaction = on_trap;
  // Not deferred: the interrupt an emulated instruction raises is signalled before the trap
  // handler returns, and the application's interrupt handler may use port instructions itself;
  // nor does a copy that ends at a fault leave the signal blocked. On the alternate stack, where
  // the program has one, as a handler of its own for stack overflows would be.
  trap.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
  sigemptyset(&trap.sa_mask);
  trap_in_place = 0;  // the program's actions reach the kernel while the handler goes in
  for (int signal : TrappedSignals)
    if (!is_armed(signal)) sigaction(signal, &trap, &previous_actions[slot_of(signal)]);
  trap_in_place = 1;
}

__attribute__((no_sanitize_thread)) int program_sigaction(int signal, const struct sigaction* action, struct sigaction* old) {
  if (!is_trapped(signal) || !trap_in_place) return interpose::next::sigaction(signal, action, old);
  struct sigaction& behind = previous_actions[slot_of(signal)];
  struct sigaction before = behind;
  if (action) behind = *action;
  if (old) *old = before;
  return 0;
}

}  // namespace ferrox::vpc
