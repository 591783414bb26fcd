// The I/O port bus.
#include "ferrox/vpc/platform/port_bus.h"

#include <iterator>

namespace vpc {

namespace {

std::uint32_t all_ones(unsigned width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

}  // namespace

void PortBus::attach(std::uint16_t base, std::uint16_t length, PortDevice& device) {
  ranges_[base] = Range{length, &device};
}

std::pair<PortDevice*, std::uint16_t> PortBus::find(std::uint16_t port) const {
  auto after = ranges_.upper_bound(port);
  if (after == ranges_.begin()) return {nullptr, 0};
  auto range = std::prev(after);
  std::uint16_t offset = static_cast<std::uint16_t>(port - range->first);
  if (offset >= range->second.length) return {nullptr, 0};
  return {range->second.device, offset};
}

std::uint32_t PortBus::read(std::uint16_t port, unsigned width) {
  auto [device, offset] = find(port);
  return device ? device->read(offset, width) & all_ones(width) : all_ones(width);
}

void PortBus::write(std::uint16_t port, unsigned width, std::uint32_t value) {
  auto [device, offset] = find(port);
  if (device) device->write(offset, width, value & all_ones(width));
}

}  // namespace vpc
