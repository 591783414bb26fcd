// SPDX-License-Identifier: MIT
// Port access through the processor's port instructions.
#include "direct_path.h"

#include <sys/io.h>

namespace e2e {

DirectPath::DirectPath() : granted_(::iopl(3) == 0) {}

DirectPath::~DirectPath() {
  if (granted_) ::iopl(0);
}

std::uint8_t DirectPath::in8(std::uint16_t port) { return ::inb(port); }

void DirectPath::out8(std::uint16_t port, std::uint8_t value) { ::outb(value, port); }

std::uint16_t DirectPath::in16(std::uint16_t port) { return ::inw(port); }

void DirectPath::in16_block(std::uint16_t port, std::uint16_t* values, std::size_t count) {
  ::insw(port, values, static_cast<unsigned long>(count));
}

}  // namespace e2e
