// SPDX-License-Identifier: MIT
// The copying routine: one `rep movsb`, whose fault the handler turns into a return of false by
// moving the instruction pointer to the routine's failure exit, as the kernel's exception table
// turns a fault of its copies into an error. A fault leaves the bytes before it moved.
#include "ferrox/vpc/kernel/user_memory.h"

extern "C" {
// bool vpc_copy_bytes(void* to, const void* from, std::size_t size)
bool vpc_copy_bytes(void* to, const void* from, std::size_t size);
extern const char vpc_copy_instruction[];
extern const char vpc_copy_failure[];
}

asm(R"(
  .text
  .globl vpc_copy_bytes, vpc_copy_instruction, vpc_copy_failure
  .hidden vpc_copy_bytes, vpc_copy_instruction, vpc_copy_failure
  .type vpc_copy_bytes, @function
vpc_copy_bytes:
)");
#if defined(__x86_64__)
asm(R"(
  mov %rdx, %rcx
vpc_copy_instruction:
  rep movsb
  mov $1, %eax
  ret
vpc_copy_failure:
  xor %eax, %eax
  ret
)");
#elif defined(__i386__)
asm(R"(
  push %edi
  push %esi
  mov 12(%esp), %edi
  mov 16(%esp), %esi
  mov 20(%esp), %ecx
vpc_copy_instruction:
  rep movsb
  mov $1, %eax
  pop %esi
  pop %edi
  ret
vpc_copy_failure:
  xor %eax, %eax
  pop %esi
  pop %edi
  ret
)");
#endif
asm(".size vpc_copy_bytes, . - vpc_copy_bytes");

namespace ferrox::vpc {

bool copy_from_user(void* to, std::uintptr_t from, std::size_t size) {
  return vpc_copy_bytes(to, reinterpret_cast<const void*>(from), size);
}

bool copy_to_user(std::uintptr_t to, const void* from, std::size_t size) {
  return vpc_copy_bytes(reinterpret_cast<void*>(to), from, size);
}

bool end_copy_at_fault(std::uintptr_t& instruction_pointer) {
  if (instruction_pointer != reinterpret_cast<std::uintptr_t>(vpc_copy_instruction)) return false;
  instruction_pointer = reinterpret_cast<std::uintptr_t>(vpc_copy_failure);
  return true;
}

}  // namespace ferrox::vpc
