// SPDX-License-Identifier: MIT
// Trap and emulate: the library's real port instructions run, and on a port the process holds the
// fault they raise in user space (SIGSEGV with SI_KERNEL; SIGILL under valgrind) is caught, the
// instruction decoded and carried out on the machine's port bus, and execution resumed after it. On
// a port the process does not hold the fault stays a fault, as on real hardware. The same handler
// ends the copies of records that fault (user_memory.h).
//
// Decoding covers: IN and OUT with an immediate port (E4-E7) or the port in DX (EC-EF), and the string
// forms INS and OUTS (6C-6F), with the prefixes 66 (16-bit operand), 67 (address size), F2/F3
// (repeat; both repeat a string form and are ignored by IN and OUT), the segment overrides
// 26/2E/36/3E (flat in user space) and, on x86_64, a REX prefix without W.
// Declined, so the instruction stays a fault: LOCK (undefined on port instructions, the processor
// raises #UD), an FS or GS override on OUTS (a segment base the emulation does not apply), REX.W,
// and everything that is not a port instruction.
#pragma once

#include <signal.h>

#include <cstdint>
#include <optional>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/control.h"

namespace ferrox::vpc {

struct PortInstruction {
  enum class Kind { In, Out, Ins, Outs };

  Kind kind = Kind::In;
  unsigned width = 1;           // bytes per element: 1, 2 or 4
  bool port_in_dx = true;       // else the port is `immediate`
  std::uint8_t immediate = 0;
  bool repeated = false;        // a string form with a repeat prefix: CX elements
  unsigned address_bits = 32;   // width of SI, DI and CX for the string forms: 16, 32 or 64
  unsigned length = 1;          // bytes of the whole instruction
};

// Reads no byte past the opcode (and its immediate), so it never reads beyond an instruction the
// processor has already fetched.
VPC_API std::optional<PortInstruction> decode_port_instruction(const std::uint8_t* code);

// Installs the fault handler for SIGSEGV, SIGBUS and SIGILL; the faults that are neither port
// instructions on held ports nor those of a copy go on to what was installed before. Does nothing
// while the handler is in place. Every grant of ports and every open of the node arms it, so that a
// handler the program installed in between by other means does not shadow it.
VPC_API void arm_fault_handler();

// sigaction as the program sees it: while the fault handler is in place, the program's own actions
// for its signals go behind it (and are what the program reads back), as on hardware, where the
// port instructions of a process with the privilege never fault whatever it installs.
int program_sigaction(int signal, const struct sigaction* action, struct sigaction* old);

// The watcher told of every port instruction carried out (control.h); nullptr for none.
void watch_port_instructions(vpc_port_watcher watch);

}  // namespace ferrox::vpc
