// SPDX-License-Identifier: MIT
// A PC parallel port driven as a printer port: registers, control bits and the printing handshake.
#pragma once

#include <cstdint>
#include <string_view>

#include "tests/contract/port_path.h"

namespace contract::lpt {

constexpr std::uint16_t Lpt1 = 0x378;
constexpr std::uint16_t Lpt2 = 0x278;
constexpr unsigned Lpt1Irq = 7;
constexpr unsigned Lpt2Irq = 5;

// Registers, as offsets from the base port.
constexpr std::uint16_t Data = 0;
constexpr std::uint16_t Status = 1;
constexpr std::uint16_t Control = 2;

// Status bits.
constexpr std::uint8_t NotBusy = 0x80;  // pin 11 is inverted: set while the printer can take a byte
constexpr std::uint8_t Ack = 0x40;

// Control bits.
constexpr std::uint8_t Strobe = 0x01;      // pin 1, inverted: set = strobe asserted
constexpr std::uint8_t NotInit = 0x04;     // clear = the printer is being reset
constexpr std::uint8_t SelectIn = 0x08;    // pin 17, inverted: set = printer selected
constexpr std::uint8_t IrqEnable = 0x10;   // interrupt on acknowledge
constexpr std::uint8_t ControlBits = 0x3F;  // bits 6 and 7 are not implemented

// Resets the printer (init pulse) and leaves it selected, interrupts off, no acknowledge pending.
void reset(PortPath& path, std::uint16_t base);

// Hands one byte to the printer with the strobe handshake once it is ready; extra control bits
// (IrqEnable) are kept on throughout. False when the printer stayed busy.
bool print_byte(PortPath& path, std::uint16_t base, char byte, std::uint8_t extra_control = 0);

// Prints the text byte by byte, then waits until the printer took the last one.
bool print(PortPath& path, std::uint16_t base, std::string_view text, std::uint8_t extra_control = 0);

// Reads the status until the printer is ready: false when it stayed busy.
bool wait_ready(PortPath& path, std::uint16_t base);

}  // namespace contract::lpt
