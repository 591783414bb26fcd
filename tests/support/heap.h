// SPDX-License-Identifier: MIT
// Bytes of heap in use, from the allocator the program runs with: a sanitizer's allocator keeps
// the count itself, exactly; the C library's is asked with mallinfo2, which counts whole chunks
// and the freed chunks its thread caches keep as in use, so its figure moves by a few bytes with
// the order in which memory was freed.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HEAP_OF_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HEAP_OF_SANITIZER 1
#endif
#endif

#ifdef HEAP_OF_SANITIZER
// From the sanitizers' allocator interface (sanitizer/allocator_interface.h, which GCC does not
// install).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
inline std::size_t heap_in_use() { return __sanitizer_get_current_allocated_bytes(); }
constexpr bool heap_count_is_exact = true;
#else
#include <malloc.h>
inline std::size_t heap_in_use() { return mallinfo2().uordblks; }
constexpr bool heap_count_is_exact = false;
#endif
