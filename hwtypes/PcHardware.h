// SPDX-License-Identifier: MIT
// The PC's hardware as software meets it: the parallel port's pins and registers, the primary ATA
// channel's ports and task file, and the PCI configuration ports. The component drives these, the
// virtual PC models them and the traces name them; each fact is written here once.
#pragma once

#include <cstdint>

#include "ferrox/hwtypes/HW_Types.h"

namespace ferrox {

// --- The parallel port: three registers from its base, and the 17 signal pins of its 25-pin
// connector (18..25 are ground).
namespace lpt {

// Where the firmware of a PC puts parallel ports, and the interrupt line each conventionally has.
constexpr std::uint16_t PrimaryBase = 0x378;     // line 7
constexpr std::uint16_t SecondaryBase = 0x278;   // line 5
constexpr std::uint16_t MonochromeBase = 0x3BC;  // on a monochrome display adapter; line 7
constexpr std::uint16_t StandardBases[] = {PrimaryBase, SecondaryBase, MonochromeBase};

// The line a port at base conventionally interrupts on; 0 for a base no firmware uses.
constexpr std::uint8_t ConventionalIrq(std::uint16_t base) {
  if (base == SecondaryBase) return 5;
  return base == PrimaryBase || base == MonochromeBase ? 7 : 0;
}

enum Register : std::uint16_t { Data = 0, Status = 1, Control = 2 };
constexpr std::uint16_t RegisterCount = 3;

// The signal pins by name; pins 2..9 carry data bits 0..7.
enum Pin : unsigned {
  StrobePin = 1,
  FirstDataPin = 2,
  AcknowledgePin = 10,
  BusyPin = 11,
  PaperEndPin = 12,
  SelectPin = 13,
  AutoFeedPin = 14,
  ErrorPin = 15,
  InitPin = 16,
  SelectInPin = 17,
};

// The status register, read only: the input lines.
enum StatusBit : std::uint8_t {
  StatusReserved = 0x07,  // not wired: read as ones
  Error = 0x08,           // pin 15, low while the printer has an error
  Select = 0x10,          // pin 13, high while the printer is on line
  PaperEnd = 0x20,        // pin 12
  Acknowledge = 0x40,     // pin 10, low during the acknowledge pulse
  NotBusy = 0x80,         // pin 11, inverted by the port: set while the busy line is low
};

// The control register: bits 0..3 drive open-collector lines and read back their levels.
enum ControlBit : std::uint8_t {
  Strobe = 0x01,           // pin 1, inverted: set pulls the line low
  AutoFeed = 0x02,         // pin 14, inverted
  Init = 0x04,             // pin 16, not inverted: clear pulls the line low
  SelectIn = 0x08,         // pin 17, inverted
  IrqEnable = 0x10,        // the port interrupts at the end of an acknowledge pulse
  Direction = 0x20,        // the data lines are inputs (read mode)
  ControlReserved = 0xC0,  // not wired: read as ones
};

// The level of a pin in a value of its register (PinsPort), undoing the port's inversion: true
// for high.
inline bool PinLevel(Byte RegisterValue, unsigned Pin) {
  return ((RegisterValue & MaskPins[Pin]) != 0) != (Negative[Pin] != 0);
}

// The register value that drives a pin to a level, every other bit as it was.
inline Byte WithPinLevel(Byte RegisterValue, unsigned Pin, bool Level) {
  bool bit = Level != (Negative[Pin] != 0);
  return static_cast<Byte>(bit ? RegisterValue | MaskPins[Pin] : RegisterValue & ~MaskPins[Pin]);
}

// Writes that hold a pulsed line released after its one-write pulse; the pulse's only timing.
constexpr int PulseHoldWrites = 1001;

// Pulses a line low for one write, then holds it released (high) for PulseHoldWrites writes;
// SetPin(pin, level) drives one pin.
template <class SetPin>
void PulseLow(SetPin&& Set, unsigned Pin) {
  Set(Pin, false);
  for (int write = 0; write < PulseHoldWrites; ++write) Set(Pin, true);
}

}  // namespace lpt

// --- The primary ATA channel: its command block (the task file) and its control block.
namespace ata {

constexpr std::uint16_t CommandBlock = 0x1F0;
constexpr std::uint16_t CommandBlockLength = 8;
constexpr std::uint16_t ControlBlock = 0x3F6;  // read: alternate status; write: device control
constexpr unsigned PrimaryIrq = 14;

// The task file, from CommandBlock; two registers mean one thing read and another written.
enum Register : std::uint16_t {
  Data = 0,         // 16-bit
  ErrorFeatures = 1,
  SectorCount = 2,
  LbaLow = 3,
  LbaMid = 4,
  LbaHigh = 5,
  DriveHead = 6,    // bit 4 selects the slave
  StatusCommand = 7,
};

enum StatusBit : std::uint8_t {
  Err = 0x01,           // the last command failed; the error register says why
  DataRequest = 0x08,   // words wait in (or are wanted for) the data register
  SeekComplete = 0x10,  // always set by a drive at rest
  DeviceFault = 0x20,
  DriveReady = 0x40,
  Busy = 0x80,
};

constexpr std::uint8_t IdentifyDevice = 0xEC;  // the command

}  // namespace ata

// --- PCI configuration mechanism #1: an address register and a data window of four bytes.
namespace pci_config {

constexpr std::uint16_t AddressPort = 0xCF8;  // CONFIG_ADDRESS, reached by 32-bit accesses only
constexpr std::uint16_t DataPort = 0xCFC;     // CONFIG_DATA, any byte lane
constexpr std::uint16_t PortsLength = 8;
constexpr std::uint32_t AddressEnable = 0x80000000;

}  // namespace pci_config

}  // namespace ferrox
