// SPDX-License-Identifier: MIT
// Copies between the program's memory and the virtual PC's, as a driver's copy_from_user and
// copy_to_user make them: the bytes are moved in place, and a fault on an address the program may
// not read (or write) ends the copy, which then fails, so that the request answers EFAULT where a
// plain copy would crash the program. As with the kernel's copies and their exception tables,
// nothing is asked in advance: the one instruction that moves the bytes may fault, and the fault
// handler (port_trap.h), which the node arms at every open, resumes the copy at its failure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ferrox::vpc {

// True when all `size` bytes were copied; false when any of them is out of reach (a copy to the
// program may then have written the bytes before the first one out of reach, as the kernel's does).
bool copy_from_user(void* to, std::uintptr_t from, std::size_t size);
bool copy_to_user(std::uintptr_t to, const void* from, std::size_t size);

// For the fault handler: when the instruction pointer is at the copying instruction, moves it to the
// copy's failure and says so.
bool end_copy_at_fault(std::uintptr_t& instruction_pointer);

}  // namespace ferrox::vpc
