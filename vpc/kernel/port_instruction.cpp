// SPDX-License-Identifier: MIT
// Decoding the processor's port instructions.
#include "ferrox/vpc/kernel/port_trap.h"

namespace ferrox::vpc {

namespace {

constexpr unsigned MaxInstructionLength = 15;

#if defined(__x86_64__)
constexpr unsigned DefaultAddressBits = 64;
constexpr unsigned OverriddenAddressBits = 32;
#else
constexpr unsigned DefaultAddressBits = 32;
constexpr unsigned OverriddenAddressBits = 16;
#endif

struct Prefixes {
  bool operand16 = false;
  bool address_override = false;
  bool repeat = false;
  bool fs_or_gs = false;
  bool unsupported = false;
  unsigned count = 0;
};

bool is_rex(std::uint8_t byte) {
#if defined(__x86_64__)
  return (byte & 0xF0) == 0x40;
#else
  (void)byte;
  return false;  // 40-4F are INC and DEC on i386
#endif
}

// Consumes the prefix bytes; stops at the first byte that is not one.
Prefixes read_prefixes(const std::uint8_t* code) {
  Prefixes prefixes;
  for (; prefixes.count < MaxInstructionLength - 1; ++prefixes.count) {
    std::uint8_t byte = code[prefixes.count];
    switch (byte) {
      case 0x66: prefixes.operand16 = true; break;
      case 0x67: prefixes.address_override = true; break;
      case 0xF2:
      case 0xF3: prefixes.repeat = true; break;
      case 0x26:
      case 0x2E:
      case 0x36:
      case 0x3E: break;
      case 0x64:
      case 0x65: prefixes.fs_or_gs = true; break;
      case 0xF0: prefixes.unsupported = true; break;
      default:
        if (!is_rex(byte)) return prefixes;
        if (byte & 0x08) prefixes.unsupported = true;  // REX.W
    }
  }
  return prefixes;
}

}  // namespace

std::optional<PortInstruction> decode_port_instruction(const std::uint8_t* code) {
  Prefixes prefixes = read_prefixes(code);
  if (prefixes.unsupported) return std::nullopt;
  std::uint8_t opcode = code[prefixes.count];
  PortInstruction instruction;
  instruction.length = prefixes.count + 1;
  // The low opcode bit selects the byte form or the word/double-word form.
  instruction.width = (opcode & 1) == 0 ? 1 : prefixes.operand16 ? 2 : 4;
  instruction.address_bits = prefixes.address_override ? OverriddenAddressBits : DefaultAddressBits;
  switch (opcode & 0xFE) {
    case 0xE4:
    case 0xE6:
      if (instruction.length == MaxInstructionLength) return std::nullopt;  // no room for the port
      instruction.kind = opcode < 0xE6 ? PortInstruction::Kind::In : PortInstruction::Kind::Out;
      instruction.port_in_dx = false;
      instruction.immediate = code[prefixes.count + 1];
      ++instruction.length;
      break;
    case 0xEC:
    case 0xEE:
      instruction.kind = opcode < 0xEE ? PortInstruction::Kind::In : PortInstruction::Kind::Out;
      break;
    case 0x6C:
      instruction.kind = PortInstruction::Kind::Ins;
      instruction.repeated = prefixes.repeat;
      break;
    case 0x6E:
      if (prefixes.fs_or_gs) return std::nullopt;
      instruction.kind = PortInstruction::Kind::Outs;
      instruction.repeated = prefixes.repeat;
      break;
    default:
      return std::nullopt;
  }
  return instruction;
}

}  // namespace ferrox::vpc
