// SPDX-License-Identifier: MIT
// Ports through the processor's own port instructions, with the I/O privilege the kernel grants.
#pragma once

#include "tests/contract/port_path.h"

namespace e2e {

// Raises the process's I/O privilege for its lifetime.
class DirectPath final : public contract::PortPath {
 public:
  DirectPath();
  ~DirectPath() override;
  DirectPath(const DirectPath&) = delete;
  DirectPath& operator=(const DirectPath&) = delete;
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
