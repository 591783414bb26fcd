// SPDX-License-Identifier: MIT
// The primary ATA controller's IDENTIFY DEVICE command, polled: 256 16-bit reads of the data port.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "tests/contract/port_path.h"

namespace e2e::ata {

struct Identity {
  bool answered = false;       // the drive came ready with data
  bool drained = false;        // after 256 reads the drive had no more data
  std::array<std::uint16_t, 256> words{};

  std::string model() const;   // words 27..46, two characters per word, high byte first
};

Identity identify_primary_master(contract::PortPath& path);

}  // namespace e2e::ata
