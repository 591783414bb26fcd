// SPDX-License-Identifier: MIT
// What one call of the library's common operations costs on this machine: a port read by each
// path, a 4 KiB window read and a PCI configuration read, each call timed on its own.
#pragma once

#include <string>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "tools/ferrox/latency/statistics.h"

namespace ferrox_tool {

struct OperationCost {
  const char* key;      // port_read_driver, port_read_direct, window_read, pci_read
  std::string name;     // as the table shows it, with the place it used
  std::size_t calls = 0;
  Summary summary;      // of one call, the clock's own cost taken off
  std::string reason;   // why it was not measured, when calls is 0
};

// The port read is of the selected parallel port's status register, or of port 0x80 (the POST
// code port, which every PC decodes) where there is none; the window is the BIOS ROM at 0xF0000;
// the PCI read is the host bridge's identifier.
std::vector<OperationCost> measure_operations(ferrox::TFerrox32& component, std::size_t calls);

}  // namespace ferrox_tool
