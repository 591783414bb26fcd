// SPDX-License-Identifier: MIT
// A FIFO device for block transfers: one data register that yields a known byte sequence when
// read and records every byte written. A wide access moves that many bytes, lowest first, as a
// byte FIFO behind a wide data register does.
#pragma once

#include <cstdint>
#include <vector>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/platform/port_bus.h"
#include "ferrox/vpc/platform/recent_bytes.h"

namespace ferrox::vpc {

class VPC_API FifoDevice final : public PortDevice {
 public:
  // The data register and the three ports a double-word access to it spans.
  static constexpr std::uint16_t PortCount = 4;

  // Byte `index` of the sequence the data register yields (a hash, so a lost or repeated
  // element shows).
  static std::uint8_t sequence(std::uint64_t index);

  std::uint32_t read(std::uint16_t offset, unsigned width) override;
  void write(std::uint16_t offset, unsigned width, std::uint32_t value) override;
  void reset() { state_ = State{}; }

  // Bytes yielded so far, and the bytes written, in order (the newest, once there are many).
  std::uint64_t bytes_read() const { return state_.read_position; }
  const std::vector<std::uint8_t>& written() const { return state_.written.kept(); }

 private:
  enum Register : std::uint16_t {
    Data = 0,  // read: the next bytes of the sequence; write: recorded
  };

  struct State {
    std::uint64_t read_position = 0;
    RecentBytes written;
  };
  State state_;
};

}  // namespace ferrox::vpc
