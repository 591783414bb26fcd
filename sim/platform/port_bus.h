// The I/O port bus of the virtual PC. Devices claim port ranges and see offsets within them;
// they never know their base address. Unclaimed ports read all ones and drop writes. Driver
// requests and trapped port instructions both land here, so both access paths see one machine.
#pragma once

#include <cstdint>
#include <map>

#include "ferrox/vpc/Export.h"

namespace vpc {

class VPC_API PortDevice {
 public:
  virtual ~PortDevice() = default;
  // width is 1, 2 or 4 bytes; a value read is zero-extended.
  virtual std::uint32_t read(std::uint16_t offset, unsigned width) = 0;
  virtual void write(std::uint16_t offset, unsigned width, std::uint32_t value) = 0;
};

class VPC_API PortBus {
 public:
  // Claims ports base .. base + length - 1 for the device (which must outlive the claim).
  void attach(std::uint16_t base, std::uint16_t length, PortDevice& device);
  void detach_all() { ranges_.clear(); }

  std::uint32_t read(std::uint16_t port, unsigned width);
  void write(std::uint16_t port, unsigned width, std::uint32_t value);

 private:
  struct Range {
    std::uint16_t length;
    PortDevice* device;
  };
  // The claim that covers the port, or nullptr.
  std::pair<PortDevice*, std::uint16_t> find(std::uint16_t port) const;

  std::map<std::uint16_t, Range> ranges_;  // by base port
};

}  // namespace vpc
