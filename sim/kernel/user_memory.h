// Copies between the program's memory and the virtual PC's, as a driver's copy_from_user and
// copy_to_user make them: an address the program may not read (or write) makes the copy fail, so
// the request answers EFAULT, where a plain memcpy would crash the program.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace vpc {

// True when all `size` bytes were copied; false when any of them is out of reach (a copy to the
// program may then have written the bytes before the first one out of reach, as the kernel's does).
bool copy_from_user(void* to, std::uintptr_t from, std::size_t size);
bool copy_to_user(std::uintptr_t to, const void* from, std::size_t size);
// The pieces one after another, from `to` on: `size` bytes in all.
bool copy_to_user(std::uintptr_t to, std::span<const iovec> pieces, std::size_t size);

}  // namespace vpc
