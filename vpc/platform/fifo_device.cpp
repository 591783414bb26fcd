// SPDX-License-Identifier: MIT
// The FIFO device.
#include "ferrox/vpc/platform/fifo_device.h"

namespace ferrox::vpc {

std::uint8_t FifoDevice::sequence(std::uint64_t index) {
  return static_cast<std::uint8_t>((static_cast<std::uint32_t>(index) * 2654435761u) >> 24);
}

std::uint32_t FifoDevice::read(std::uint16_t offset, unsigned width) {
  switch (offset) {
    case Data: {
      std::uint32_t value = 0;
      for (unsigned byte = 0; byte < width; ++byte)
        value |= std::uint32_t{sequence(state_.read_position++)} << (8 * byte);
      return value;
    }
    default:
      return 0xFFFFFFFF;  // unassigned
  }
}

void FifoDevice::write(std::uint16_t offset, unsigned width, std::uint32_t value) {
  switch (offset) {
    case Data:
      for (unsigned byte = 0; byte < width; ++byte)
        state_.written.push(static_cast<std::uint8_t>(value >> (8 * byte)));
      break;
    default:
      break;  // unassigned
  }
}

}  // namespace ferrox::vpc
