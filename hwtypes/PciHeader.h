// SPDX-License-Identifier: MIT
// A PCI function's configuration header: the registers that the virtual PC models and the tool
// decodes, by their offset; each is written here once.
#pragma once

namespace ferrox::pci_header {

constexpr unsigned Command = 0x04;
constexpr unsigned Status = 0x06;
constexpr unsigned ProgrammingInterface = 0x09;
constexpr unsigned CacheLineSize = 0x0C;
constexpr unsigned LatencyTimer = 0x0D;
constexpr unsigned HeaderType = 0x0E;
constexpr unsigned BaseAddress0 = 0x10;
constexpr unsigned CapabilitiesPointer = 0x34;  // where the status register says there is a list
constexpr unsigned InterruptLine = 0x3C;
constexpr unsigned InterruptPin = 0x3D;
constexpr unsigned MinGrant = 0x3E;
constexpr unsigned MaxLatency = 0x3F;

}  // namespace ferrox::pci_header
