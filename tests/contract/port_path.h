// SPDX-License-Identifier: MIT
// The two ways a program reaches a port: a driver request per transfer, or the processor's own port
// instructions after the kernel granted I/O privilege. Scenarios take either.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tests/contract/driver.h"

namespace contract {

class PortPath {
 public:
  virtual ~PortPath() = default;
  virtual const char* name() const = 0;
  virtual std::uint8_t in8(std::uint16_t port) = 0;
  virtual void out8(std::uint16_t port, std::uint8_t value) = 0;
  virtual std::uint16_t in16(std::uint16_t port) = 0;
  // Reads count 16-bit values from one port, as a device's data FIFO is drained.
  virtual void in16_block(std::uint16_t port, std::uint16_t* values, std::size_t count) = 0;
};

// One driver request per transfer: the driver has no block request.
class DriverPath final : public PortPath {
 public:
  explicit DriverPath(const Driver& driver) : driver_(driver) {}
  const char* name() const override { return "driver path"; }
  std::uint8_t in8(std::uint16_t port) override { return static_cast<std::uint8_t>(driver_.port_in(1, port)); }
  void out8(std::uint16_t port, std::uint8_t value) override { driver_.port_out(1, port, value); }
  std::uint16_t in16(std::uint16_t port) override { return static_cast<std::uint16_t>(driver_.port_in(2, port)); }
  void in16_block(std::uint16_t port, std::uint16_t* values, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) values[i] = in16(port);
  }

 private:
  const Driver& driver_;
};

}  // namespace contract
