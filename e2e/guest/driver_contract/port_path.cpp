// Port access through driver requests and through the processor's port instructions.
#include "port_path.h"

#include <sys/io.h>

namespace e2e {

std::uint8_t DriverPath::in8(std::uint16_t port) { return static_cast<std::uint8_t>(driver_.port_in(1, port)); }

void DriverPath::out8(std::uint16_t port, std::uint8_t value) { driver_.port_out(1, port, value); }

std::uint16_t DriverPath::in16(std::uint16_t port) { return static_cast<std::uint16_t>(driver_.port_in(2, port)); }

// The driver has no block request: one request per value.
void DriverPath::in16_block(std::uint16_t port, std::uint16_t* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) values[i] = in16(port);
}

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
