// SPDX-License-Identifier: MIT
// HW_Types: the types shared by the component, its callers and the driver contract.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ferrox/hwtypes/Export.h"

namespace ferrox {

using Byte = std::uint8_t;
using Word = std::uint16_t;

// Event type of OnHwInterrupt: a method of an object (code and object), called with the IRQ line.
// It is called from a signal handler, so it is a plain pair of pointers: copying and calling it
// never allocates.
struct TInterruptHandler {
  using CodePointer = void (*)(void* Object, Word IrqNumber);

  CodePointer Code = nullptr;
  void* Data = nullptr;

  bool Assigned() const { return Code != nullptr; }
  void operator()(Word IrqNumber) const { Code(Data, IrqNumber); }

  // Binds a member function: TInterruptHandler::Bind<&Form::OnIrq>(&form).
  template <auto Method, class Object>
  static TInterruptHandler Bind(Object* object) {
    return {[](void* target, Word irq) { (static_cast<Object*>(target)->*Method)(irq); }, object};
  }

  // Spelled out rather than defaulted, so that C++17 programs can include this header.
  friend bool operator==(const TInterruptHandler& a, const TInterruptHandler& b) { return a.Code == b.Code && a.Data == b.Data; }
  friend bool operator!=(const TInterruptHandler& a, const TInterruptHandler& b) { return !(a == b); }
};

// The physical-memory transfer record; MapRequest is one of these. Its first 16 bytes are also
// the record of the map request.
struct TMemRec {
  std::uint32_t PhysAddr;    // physical address of the window's first byte
  std::uint32_t Offset;      // byte offset of the transfer within the window
  std::uint32_t LinearAddr;  // the window's handle, written by the driver at the map request
  std::uint32_t Count;       // bytes to transfer; window size in the map request
  Byte Data[65536];          // Data[0] is the byte at PhysAddr + Offset
};
static_assert(sizeof(TMemRec) == 65552);
static_assert(offsetof(TMemRec, PhysAddr) == 0 && offsetof(TMemRec, Offset) == 4);
static_assert(offsetof(TMemRec, LinearAddr) == 8 && offsetof(TMemRec, Count) == 12);
static_assert(offsetof(TMemRec, Data) == 16);

constexpr std::uint32_t MemRecHeadSize = offsetof(TMemRec, Data);
constexpr std::uint32_t MemRecDataSize = sizeof(TMemRec::Data);

// A PCI function's 64-byte predefined configuration header, as the driver fills it.
// On the way to the driver its first 8 bytes carry the request head (bus, DevFn, register, count).
struct TPciCfg {
  std::uint16_t VendorID;
  std::uint16_t DeviceID;
  std::uint16_t Command;
  std::uint16_t Status;
  Byte RevisionID;
  Byte ProgIf;
  Byte SubClass;
  Byte ClassCode;
  Byte CacheLineSize;
  Byte LatencyTimer;
  Byte HeaderType;
  Byte Bist;
  std::uint32_t BaseAddress[6];
  std::uint32_t CardbusCis;
  std::uint16_t SubsystemVendorID;
  std::uint16_t SubsystemID;
  std::uint32_t ExpansionRom;
  Byte CapabilitiesPointer;
  Byte Reserved[7];
  Byte InterruptLine;
  Byte InterruptPin;
  Byte MinGrant;
  Byte MaxLatency;
};
static_assert(sizeof(TPciCfg) == 64);
static_assert(offsetof(TPciCfg, BaseAddress) == 0x10 && offsetof(TPciCfg, InterruptLine) == 0x3C);

// Parallel-port pins 1..17 of the 25-pin connector; index 0 is unused.
constexpr int LptPinCount = 17;
// Register of the pin as an offset from the port base: 0 data, 1 status, 2 control.
FERROX_API extern const Byte PinsPort[LptPinCount + 1];
// The bit of that register that carries the pin.
FERROX_API extern const Byte MaskPins[LptPinCount + 1];
// 1 where the port hardware inverts the line between register bit and pin.
FERROX_API extern const Byte Negative[LptPinCount + 1];

}  // namespace ferrox
