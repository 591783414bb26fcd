// SPDX-License-Identifier: MIT
// The I/O port bus of the virtual PC. Devices claim port ranges and see offsets within them;
// they never know their base address. Unclaimed ports read all ones and drop writes. Driver
// requests and trapped port instructions both land here, so both access paths see one machine.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ferrox/vpc/Export.h"

namespace ferrox::vpc {

class VPC_API PortDevice {
 public:
  virtual ~PortDevice() = default;
  // width is 1, 2 or 4 bytes; a value read is zero-extended.
  virtual std::uint32_t read(std::uint16_t offset, unsigned width) = 0;
  virtual void write(std::uint16_t offset, unsigned width, std::uint32_t value) = 0;
};

class VPC_API PortBus {
 public:
  // Claims ports base .. base + length - 1 for the device (which must outlive the claim), over
  // whatever claimed them before.
  void attach(std::uint16_t base, std::uint16_t length, PortDevice& device);
  void detach_all();

  std::uint32_t read(std::uint16_t port, unsigned width);
  void write(std::uint16_t port, unsigned width, std::uint32_t value);

 private:
  struct Claim {
    std::uint16_t base;
    PortDevice* device;
  };

  // Every port's claim, by number in claims_ (0: unclaimed), so that finding the device behind a
  // port is one look-up, as an address decoder's is.
  std::array<std::uint16_t, 0x10000> claim_of_{};
  std::vector<Claim> claims_{Claim{}};  // claims_[0] stands for no claim
};

}  // namespace ferrox::vpc
