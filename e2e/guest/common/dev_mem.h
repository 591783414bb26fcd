// SPDX-License-Identifier: MIT
// Physical memory as the kernel's own /dev/mem shows it: the reference for the driver's windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace e2e {

// The bytes, or an empty vector when /dev/mem would not give them all.
std::vector<std::uint8_t> read_dev_mem(std::uint32_t phys, std::size_t count);

// Whether /dev/mem lets a program map the pages the range reaches (reads reach only as far as the
// RAM does).
bool dev_mem_maps(std::uint32_t phys, std::size_t size);

}  // namespace e2e
