// SPDX-License-Identifier: MIT
// The I/O port bus.
#include "ferrox/vpc/platform/port_bus.h"

namespace ferrox::vpc {

namespace {

std::uint32_t all_ones(unsigned width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

}  // namespace

void PortBus::attach(std::uint16_t base, std::uint16_t length, PortDevice& device) {
  claims_.push_back({base, &device});
  auto number = static_cast<std::uint16_t>(claims_.size() - 1);
  for (unsigned port = base; port < unsigned{base} + length && port < claim_of_.size(); ++port) claim_of_[port] = number;
}

void PortBus::detach_all() {
  claim_of_.fill(0);
  claims_.resize(1);
}

std::uint32_t PortBus::read(std::uint16_t port, unsigned width) {
  const Claim& claim = claims_[claim_of_[port]];
  return claim.device ? claim.device->read(static_cast<std::uint16_t>(port - claim.base), width) & all_ones(width)
                      : all_ones(width);
}

void PortBus::write(std::uint16_t port, unsigned width, std::uint32_t value) {
  const Claim& claim = claims_[claim_of_[port]];
  if (claim.device) claim.device->write(static_cast<std::uint16_t>(port - claim.base), width, value & all_ones(width));
}

}  // namespace ferrox::vpc
