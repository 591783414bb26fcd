// SPDX-License-Identifier: MIT
// The default machine's PCI functions, as configuration-space dumps after the firmware has
// assigned addresses and interrupt lines. Rows not listed are zero.
#include "ferrox/vpc/pci/pci_bus.h"

namespace ferrox::vpc {

namespace {

struct FunctionDump {
  PciLocation location;
  std::array<std::uint64_t, PciRegionCount> region_sizes;  // BAR 0..5, expansion ROM
  const char* rows;  // "offset: 16 bytes", one row a line, in hexadecimal
};

const FunctionDump Chipset[] = {
    // Host bridge: memory and bus master enabled, medium DEVSEL timing, fast back-to-back.
    {{0, 0, 0}, {}, R"(
00: 86 80 37 12 06 00 80 02 02 00 00 06 00 00 00 00
)"},
    // ISA bridge, the first of a multi-function device (header type bit 7).
    {{0, 1, 0}, {}, R"(
00: 86 80 00 70 07 00 00 02 00 00 01 06 00 00 80 00
)"},
    // IDE in compatibility mode with bus mastering (programming interface 0x80): legacy ports and
    // interrupts 14/15, so only the bus-master block is a base address register (BAR4, 16 ports).
    {{0, 1, 1}, {0, 0, 0, 0, 16, 0, 0}, R"(
00: 86 80 10 70 05 00 80 02 00 80 01 01 00 40 00 00
20: 41 c0 00 00 00 00 00 00 00 00 00 00 00 00 00 00
40: 07 a3 00 80 00 00 00 00 00 00 00 00 00 00 00 00
)"},
    // Power management: ACPI registers at 0x600 and SMBus at 0x700, placed through the function's
    // own registers past the header; SCI on interrupt 9.
    {{0, 1, 3}, {}, R"(
00: 86 80 13 71 00 00 80 02 03 00 80 06 00 00 00 00
30: 00 00 00 00 00 00 00 00 00 00 00 00 09 01 00 00
40: 01 06 00 00 00 00 00 00 00 00 00 00 00 00 00 00
80: 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
90: 01 07 00 00 00 00 00 00 00 00 00 00 00 00 00 00
d0: 00 00 09 00 00 00 00 00 00 00 00 00 00 00 00 00
)"},
    // VGA: 16 MiB prefetchable frame buffer, 4 KiB of registers, 64 KiB option ROM (not enabled).
    {{0, 2, 0}, {16 << 20, 0, 4096, 0, 0, 0, 64 << 10}, R"(
00: 34 12 11 11 03 00 00 00 02 00 00 03 00 00 00 00
10: 08 00 00 fd 00 00 00 00 00 00 bf fe 00 00 00 00
30: 00 00 be fe 00 00 00 00 00 00 00 00 00 00 00 00
)"},
    // Ethernet: 128 KiB of registers, 64 I/O ports, 256 KiB option ROM, interrupt 11.
    {{0, 3, 0}, {128 << 10, 64, 0, 0, 0, 0, 256 << 10}, R"(
00: 86 80 0e 10 07 00 00 00 03 00 00 02 00 00 00 00
10: 00 00 bc fe 01 c0 00 00 00 00 00 00 00 00 00 00
20: 00 00 00 00 00 00 00 00 00 00 00 00 86 80 1e 00
30: 00 00 b8 fe 00 00 00 00 00 00 00 00 0b 01 ff 00
)"},
};

}  // namespace

std::vector<PciFunctionImage> default_pci_chipset() {
  std::vector<PciFunctionImage> functions;
  // The dumps above are well formed: a fault in them stops the program here.
  for (const FunctionDump& dump : Chipset)
    functions.push_back({dump.location, parse_pci_config_dump(dump.rows).value(), dump.region_sizes});
  return functions;
}

}  // namespace ferrox::vpc
