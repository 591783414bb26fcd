// SPDX-License-Identifier: MIT
// Names of the hardware a trace shows, for people: the registers of the parallel ports and of the
// primary ATA channel, the PCI configuration ports, and the registers of a PCI header, with the
// bits of a value decoded where they have meanings of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ferrox::recording {

// "parallel port 0x378 status: busy no, acknowledge inactive, ..."; "" for a port without a name.
// The value is decoded when it is known (a read's answer, a write's value).
std::string port_name(std::uint32_t port, bool output, std::optional<std::uint32_t> value);

// The registers of a PCI header that an access of `width` bytes at `offset` covers ("vendor id,
// device id"); "" past the 64-byte header.
std::string pci_register_name(unsigned offset, unsigned width);

}  // namespace ferrox::recording
