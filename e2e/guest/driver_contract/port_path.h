// The two ways a program reaches a port: a driver request per transfer, or the processor's own port
// instructions after the kernel granted I/O privilege. Scenarios run once on each.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver.h"

namespace e2e {

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

class DriverPath final : public PortPath {
 public:
  explicit DriverPath(const Driver& driver) : driver_(driver) {}
  const char* name() const override { return "driver path"; }
  std::uint8_t in8(std::uint16_t port) override;
  void out8(std::uint16_t port, std::uint8_t value) override;
  std::uint16_t in16(std::uint16_t port) override;
  void in16_block(std::uint16_t port, std::uint16_t* values, std::size_t count) override;

 private:
  const Driver& driver_;
};

// Raises the process's I/O privilege for its lifetime.
class DirectPath final : public PortPath {
 public:
  DirectPath();
  ~DirectPath() override;
  bool granted() const { return granted_; }
  const char* name() const override { return "direct path"; }
  std::uint8_t in8(std::uint16_t port) override;
  void out8(std::uint16_t port, std::uint8_t value) override;
  std::uint16_t in16(std::uint16_t port) override;
  void in16_block(std::uint16_t port, std::uint16_t* values, std::size_t count) override;

 private:
  bool granted_ = false;
};

}  // namespace e2e
