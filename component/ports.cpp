// SPDX-License-Identifier: MIT
// TFerrox32 port input/output: single ports through the driver or with port instructions, the
// parallel-port shadows kept by the byte transfers, and FIFO blocks moved with one repeated string
// instruction.
#include <sys/ioctl.h>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/component/ModuleRecords.h"
#include "ferrox/component/PortIo.h"

namespace ferrox {

namespace {

std::uint32_t DriverRead(std::int32_t Handle, std::uint32_t Code, Word Port) {
  TPortRecord& request = *detail::Records().PortRequest;
  request.Port = Port;
  request.Value = 0;  // what a failed request leaves to be read back
  ioctl(Handle, Code, &request);
  return request.Value;
}

void DriverWrite(std::int32_t Handle, std::uint32_t Code, Word Port, std::uint32_t Value) {
  TPortRecord& request = *detail::Records().PortRequest;
  request.Port = Port;
  request.Value = Value;
  ioctl(Handle, Code, &request);
}

// The byte transfers remember the last value seen at each register of the selected parallel
// port. Port is zero-extended and the difference taken in unsigned arithmetic, so a port below the
// base is far out of the window and a base of 0xFFFF does not wrap.
void KeepShadow(Byte (&Shadow)[3], Word Base, unsigned Port, Byte Value) {
  unsigned index = Port - Base;
  if (index < 3) Shadow[index] = Value;
}

// A null buffer with elements to move is no block at all: nothing is asked for and nothing
// moves, as with a closed driver.
bool IsBlock(std::uint32_t Count, const void* Buffer) { return Buffer || Count == 0; }

}  // namespace

inline bool TFerrox32::PortGranted(Word Port) {
  // A recorded grant is trusted: the kernel is not asked again.
  return detail::Records().PortPermissions[Port] != 0 || fSetIoPermission(Port);
}

inline bool TFerrox32::DirectPortAccess(Word Port) {
  if (FHardAccess) return false;
  if (PortGranted(Port)) return true;
  FHardAccess = true;  // refused: this call and every later one goes through the driver
  return false;
}

// The byte transfers carry the parallel port's traffic. Their common case, the direct path on a
// port whose grant is recorded, is a leaf: the table lookup, the instruction and the shadow, with
// no call and so no stack frame. The driver path and a port's first direct transfer are the
// ...Slowly twins, reached by a tail call. The test is written out in each and the port held
// zero-extended once, for the table, the instruction and the shadow alike: that keeps GCC's leaf
// at 16 instructions.
Byte TFerrox32::fGetPortB(Word Port) {
  if (!FDriverActive) return 0xFF;
  unsigned port = Port;
  if (FHardAccess || detail::Records().PortPermissions[port] == 0) [[unlikely]]
    return GetPortBSlowly(Port);
  Byte value = detail::InB(port);
  KeepShadow(FLPTReadShadow, FLPTBase, port, value);
  return value;
}

Byte TFerrox32::GetPortBSlowly(Word Port) {
  Byte value =
      DirectPortAccess(Port) ? detail::InB(Port) : static_cast<Byte>(DriverRead(FDriverHandle, Request::PortInB, Port));
  KeepShadow(FLPTReadShadow, FLPTBase, Port, value);
  return value;
}

Word TFerrox32::fGetPortW(Word Port) {
  if (!FDriverActive) return 0xFFFF;
  if (FHardAccess) return static_cast<Word>(DriverRead(FDriverHandle, Request::PortInW, Port));
  // The one transfer that keeps the direct path when the grant is refused: it answers as an
  // absent port does and asks the driver nothing.
  return PortGranted(Port) ? detail::InW(Port) : 0xFFFF;
}

// A closed driver answers a double-word read with 0xFF, as the byte read does, not all ones.
std::uint32_t TFerrox32::fGetPortL(Word Port) {
  if (!FDriverActive) return 0x000000FF;
  return DirectPortAccess(Port) ? detail::InL(Port) : DriverRead(FDriverHandle, Request::PortInL, Port);
}

void TFerrox32::fSetPortB(Word Port, Byte Value) {
  if (!FDriverActive) return;
  unsigned port = Port;
  if (FHardAccess || detail::Records().PortPermissions[port] == 0) [[unlikely]]
    return SetPortBSlowly(Port, Value);
  detail::OutB(port, Value);
  KeepShadow(FLPTWriteShadow, FLPTBase, port, Value);
}

void TFerrox32::SetPortBSlowly(Word Port, Byte Value) {
  if (DirectPortAccess(Port))
    detail::OutB(Port, Value);
  else
    DriverWrite(FDriverHandle, Request::PortOutB, Port, Value);
  KeepShadow(FLPTWriteShadow, FLPTBase, Port, Value);
}

void TFerrox32::fSetPortW(Word Port, Word Value) {
  if (!FDriverActive) return;
  if (DirectPortAccess(Port))
    detail::OutW(Port, Value);
  else
    DriverWrite(FDriverHandle, Request::PortOutW, Port, Value);
}

void TFerrox32::fSetPortL(Word Port, std::uint32_t Value) {
  if (!FDriverActive) return;
  if (DirectPortAccess(Port))
    detail::OutL(Port, Value);
  else
    DriverWrite(FDriverHandle, Request::PortOutL, Port, Value);
}

// Blocks always use the port instructions, whatever the driver's state and HardAccess; a refused
// grant moves nothing.

void TFerrox32::ReadPortFIFO(Word Port, std::uint32_t Count, void* Buffer) {
  if (IsBlock(Count, Buffer) && PortGranted(Port)) detail::InsB(Port, Buffer, Count);
}

void TFerrox32::WritePortFIFO(Word Port, std::uint32_t Count, const void* Buffer) {
  if (IsBlock(Count, Buffer) && PortGranted(Port)) detail::OutsB(Port, Buffer, Count);
}

void TFerrox32::ReadPortWFIFO(Word Port, std::uint32_t Count, void* Buffer) {
  if (IsBlock(Count, Buffer) && PortGranted(Port)) detail::InsW(Port, Buffer, Count);
}

void TFerrox32::WritePortWFIFO(Word Port, std::uint32_t Count, const void* Buffer) {
  if (IsBlock(Count, Buffer) && PortGranted(Port)) detail::OutsW(Port, Buffer, Count);
}

void TFerrox32::ReadPortLFIFO(Word Port, std::uint32_t Count, void* Buffer) {
  if (IsBlock(Count, Buffer) && PortGranted(Port)) detail::InsL(Port, Buffer, Count);
}

void TFerrox32::WritePortLFIFO(Word Port, std::uint32_t Count, const void* Buffer) {
  if (IsBlock(Count, Buffer) && PortGranted(Port)) detail::OutsL(Port, Buffer, Count);
}

}  // namespace ferrox
