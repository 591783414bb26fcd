// SPDX-License-Identifier: MIT
// The contract with the kernel driver behind "/dev/ferrox": request codes and the records that
// cross to it. One layout on i386 and x86_64: fixed-width fields only.
//
//   2  map          TMemRec head: PhysAddr, Count = size in; LinearAddr out (0: cannot map)
//   3  unmap        one 32-bit linear address
//   4  port in  8   TPortRecord: Port in; Value out
//   5  port out 8   TPortRecord: Port, Value in
//   6  port in  16  TPortRecord
//   7  port out 16  TPortRecord
//   8  port in  32  TPortRecord
//   9  port out 32  TPortRecord
//   14 window read  TMemRec: Count bytes of the window from Offset into Data
//   15 window write TMemRec: Count bytes of Data into the window from Offset
//   16 PCI read     TPciRequest (Count 1, 2, 4: value as the result) or TPciCfg (Count 64)
//   17 PCI write    TPciRequest
//   18 IRQ unmask   TIrqRequest: deliver signal SignalNumber for Irq to ProcessId
//   19 IRQ mask     TIrqRequest
//   20 IRQ count    the line by value; the driver's count for it as the result
#pragma once

#include <cstdint>

#include "ferrox/hwtypes/HW_Types.h"

namespace ferrox {

// Linux _IOC layout with both direction bits set.
constexpr std::uint32_t MakeRequestCode(char Type, Byte Number, Word Size) {
  return 0xC0000000u + Size * 0x10000u + static_cast<Byte>(Type) * 0x100u + Number;
}

constexpr char RequestType = 'h';

constexpr Byte RequestNumberOf(std::uint32_t Code) { return static_cast<Byte>(Code & 0xFF); }

namespace Request {
constexpr std::uint32_t Map = MakeRequestCode(RequestType, 2, 16);
constexpr std::uint32_t Unmap = MakeRequestCode(RequestType, 3, 4);
constexpr std::uint32_t PortInB = MakeRequestCode(RequestType, 4, 8);
constexpr std::uint32_t PortOutB = MakeRequestCode(RequestType, 5, 8);
constexpr std::uint32_t PortInW = MakeRequestCode(RequestType, 6, 8);
constexpr std::uint32_t PortOutW = MakeRequestCode(RequestType, 7, 8);
constexpr std::uint32_t PortInL = MakeRequestCode(RequestType, 8, 8);
constexpr std::uint32_t PortOutL = MakeRequestCode(RequestType, 9, 8);
// The size field is 4 although the record is a whole TMemRec.
constexpr std::uint32_t ReadWindow = MakeRequestCode(RequestType, 14, 4);
constexpr std::uint32_t WriteWindow = MakeRequestCode(RequestType, 15, 4);
constexpr std::uint32_t PciRead = MakeRequestCode(RequestType, 16, 64);
constexpr std::uint32_t PciWrite = MakeRequestCode(RequestType, 17, 64);
constexpr std::uint32_t IrqUnmask = MakeRequestCode(RequestType, 18, 16);
constexpr std::uint32_t IrqMask = MakeRequestCode(RequestType, 19, 16);
constexpr std::uint32_t IrqCount = MakeRequestCode(RequestType, 20, 0);
}  // namespace Request

constexpr const char* DriverDevicePath = "/dev/ferrox";

// The real-time signal that carries interrupts: si_errno = the unmask request's Component,
// si_code = the line.
constexpr int InterruptSignal = 44;

// Record of the single-port requests 4..9 (PortRequest).
struct TPortRecord {
  std::uint32_t Port;   // zero-extended from 16 bits
  std::uint32_t Value;  // value to write, or value read (zero-extended)
};
static_assert(sizeof(TPortRecord) == 8);

// Record of the PCI requests 16 and 17 (the first 64 bytes of PciRequest).
struct TPciRequest {
  std::uint16_t Bus;
  std::uint16_t DevFn;  // (device & 0x1F) << 3 | (function & 7)
  std::uint16_t Reg;    // configuration register offset, as given
  std::uint16_t Count;  // 1, 2, 4; 64 for the header
  std::uint32_t Value;  // write requests: the value, zero-extended
  Byte Unused[52];
};
static_assert(sizeof(TPciRequest) == 64);

constexpr Word PciHeaderCount = 64;

// Record of the interrupt requests 18 and 19, built on the caller's stack.
struct TIrqRequest {
  std::int32_t ProcessId;
  std::int32_t SignalNumber;
  std::uint32_t Irq;
  std::uint32_t Component;  // cookie naming the component; echoed in si_errno
};
static_assert(sizeof(TIrqRequest) == 16);

// How many bytes of the record at the argument a request concerns (0 when the argument is a plain
// value or the code is none of the driver's). A window transfer's record is its head and the Count
// bytes of Data it moves, at most the whole Data.
constexpr std::uint32_t RecordSize(std::uint32_t Code, std::uint32_t WindowCount) {
  switch (Code) {
    case Request::Map:
      return MemRecHeadSize;
    case Request::Unmap:
      return sizeof(std::uint32_t);
    case Request::PortInB:
    case Request::PortOutB:
    case Request::PortInW:
    case Request::PortOutW:
    case Request::PortInL:
    case Request::PortOutL:
      return sizeof(TPortRecord);
    case Request::ReadWindow:
    case Request::WriteWindow:
      return MemRecHeadSize + (WindowCount < MemRecDataSize ? WindowCount : MemRecDataSize);
    case Request::PciRead:
    case Request::PciWrite:
      return sizeof(TPciRequest);
    case Request::IrqUnmask:
    case Request::IrqMask:
      return sizeof(TIrqRequest);
    default:
      return 0;
  }
}

}  // namespace ferrox
