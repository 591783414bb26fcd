// SPDX-License-Identifier: MIT
// The kernel's log, as dmesg shows it.
#pragma once

#include <cstddef>
#include <string>

namespace e2e {

std::string kernel_log();

// How many times the text stands in the kernel's log.
std::size_t kernel_log_count(const std::string& text);

}  // namespace e2e
