// SPDX-License-Identifier: MIT
// TFerrox32 physical memory: the one window the driver maps for a component, and the single
// values and blocks moved through it with the module-wide transfer record MapRequest.
//
// The component never touches the window's linear address itself: every byte crosses in a
// read (14) or write (15) request that names the window by that address.
#include <sys/ioctl.h>

#include <algorithm>
#include <cstdint>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/component/ModuleRecords.h"

namespace ferrox {

namespace {

// A window mapped on demand covers at least this much, so that reading a table element by
// element keeps one window.
constexpr std::uint64_t OnDemandWindowSize = 256;
// Window sizes travel in a 32-bit field.
constexpr std::uint64_t LargestWindowSize = 0xFFFFFFFF;

TMemRec& MapRequest() { return *detail::Records().MapRequest; }

// Makes the component's window at Base cover its first End bytes, mapping Size bytes from Base
// when it does not. Says whether a window is mapped afterwards.
bool CoverWithWindow(TFerrox32& Component, std::uint32_t Base, std::uint64_t End, std::uint64_t Size) {
  if (!Component.Mapped() || Component.MappedPhys() != Base || Component.MappedSize() < End)
    Component.fMapPhysToLinear(Base, static_cast<std::uint32_t>(Size));
  return Component.Mapped();
}

// Sends MapRequest as a read or write through the component's own window: the record is shared
// by every component, so its LinearAddr may still name another component's window. Says
// whether the driver carried the transfer out.
bool Transfer(const TFerrox32& Component, std::uint32_t Code) {
  TMemRec& record = MapRequest();
  record.LinearAddr = Component.MappedLinear();
  return ioctl(Component.DriverHandle(), Code, &record) != -1;
}

// Element Index of the window at Base, Value wide: fills the head of MapRequest and makes the
// window cover the element. False when no window can: the element lies past the largest one,
// or the driver cannot map.
template <class Value>
bool PrepareValue(TFerrox32& Component, std::uint32_t Base, std::uint32_t Index) {
  std::uint64_t offset = std::uint64_t{Index} * sizeof(Value);
  std::uint64_t end = offset + sizeof(Value);
  if (end > LargestWindowSize) return false;
  TMemRec& record = MapRequest();
  record.PhysAddr = Base;
  record.Offset = static_cast<std::uint32_t>(offset);
  record.Count = sizeof(Value);
  return CoverWithWindow(Component, Base, end, std::max(end, OnDemandWindowSize));
}

template <class Value>
Value GetMem(TFerrox32& Component, std::uint32_t Base, std::uint32_t Index) {
  // Every width answers 255 while the driver is closed.
  if (!Component.DriverActive()) return 0xFF;
  if (!PrepareValue<Value>(Component, Base, Index) || !Transfer(Component, Request::ReadWindow)) return 0;
  Value value = 0;
  for (std::size_t i = 0; i < sizeof(Value); ++i) value |= static_cast<Value>(Value{MapRequest().Data[i]} << 8 * i);
  return value;
}

template <class Value>
void SetMem(TFerrox32& Component, std::uint32_t Base, std::uint32_t Index, Value NewValue) {
  if (!Component.DriverActive()) return;
  for (std::size_t i = 0; i < sizeof(Value); ++i) MapRequest().Data[i] = static_cast<Byte>(NewValue >> 8 * i);
  if (PrepareValue<Value>(Component, Base, Index)) Transfer(Component, Request::WriteWindow);
}

// Makes the window at Base cover a block: a window mapped for a block covers
// Offset + Count + 1 bytes, at least 256. False when no window can: that size does not fit in
// 32 bits (a wrapped sum would map a window too small for the block), or the driver cannot map.
// A null buffer with bytes to move is no block at all: it is treated as a closed driver treats
// every block, and nothing is mapped or sent.
bool CoverBlock(TFerrox32& Component, std::uint32_t Base, std::uint32_t Offset, std::uint32_t Count,
                const void* Buffer) {
  if (!Component.DriverActive() || (!Buffer && Count != 0)) return false;
  std::uint64_t end = std::uint64_t{Offset} + Count;
  if (end + 1 > LargestWindowSize) return false;
  return CoverWithWindow(Component, Base, end, std::max(end + 1, OnDemandWindowSize));
}

// Moves a block in pieces that fit in Data, in order, through the window that covers it; a
// block of 0 bytes is one piece of 0 bytes. For each piece MapRequest's head is filled, then
// MovePiece(position in the block, length) moves it and says whether the driver did; the first
// piece it did not ends the block.
template <class Move>
void InPieces(std::uint32_t Base, std::uint32_t Offset, std::uint32_t Count, Move MovePiece) {
  std::uint32_t done = 0;
  do {
    std::uint32_t length = std::min(Count - done, MemRecDataSize);
    TMemRec& record = MapRequest();
    record.PhysAddr = Base;
    record.Offset = Offset + done;
    record.Count = length;
    if (!MovePiece(done, length)) return;
    done += length;
  } while (done < Count);
}

}  // namespace

std::uint32_t TFerrox32::fMapPhysToLinear(std::uint32_t PhysAddr, std::uint32_t Size) {
  if (!FDriverActive) return 0;
  if (FMapped && (PhysAddr != FMappedPhys || FMappedSize < Size)) fUnmapMemory();
  if (FMapped) return FMappedLinear;  // a larger window at the same address serves

  TMemRec& record = MapRequest();
  std::uint32_t transferCount = record.Count;  // the caller's, for the transfer after the map
  record.PhysAddr = PhysAddr;
  record.Count = Size;
  // A driver that fails without answering must not leave a previous window's address here.
  record.LinearAddr = 0;
  ioctl(FDriverHandle, Request::Map, &record);

  FMappedPhys = PhysAddr;
  FMappedSize = Size;
  FMappedLinear = record.LinearAddr;  // 0: the driver cannot map the range
  record.Count = transferCount;
  FMapped = FMappedLinear != 0;
  return FMappedLinear;
}

void TFerrox32::fUnmapMemory() {
  // The window counts as released whatever the driver answers.
  if (FDriverActive && FMapped) ioctl(FDriverHandle, Request::Unmap, &FMappedLinear);
  FMapped = false;
}

void TFerrox32::fReadMappedMemory(TMemRec* Rec) {
  if (FDriverActive && FMapped) ioctl(FDriverHandle, Request::ReadWindow, Rec);
}

// The driver checks the window a write names, so a write goes out with or without one mapped.
void TFerrox32::fWriteMappedMemory(TMemRec* Rec) {
  if (FDriverActive) ioctl(FDriverHandle, Request::WriteWindow, Rec);
}

Byte TFerrox32::fGetMemB(std::uint32_t Base, std::uint32_t Index) { return GetMem<Byte>(*this, Base, Index); }
Word TFerrox32::fGetMemW(std::uint32_t Base, std::uint32_t Index) { return GetMem<Word>(*this, Base, Index); }
std::uint32_t TFerrox32::fGetMemL(std::uint32_t Base, std::uint32_t Index) {
  return GetMem<std::uint32_t>(*this, Base, Index);
}

void TFerrox32::fSetMemB(std::uint32_t Base, std::uint32_t Index, Byte Value) { SetMem(*this, Base, Index, Value); }
void TFerrox32::fSetMemW(std::uint32_t Base, std::uint32_t Index, Word Value) { SetMem(*this, Base, Index, Value); }
void TFerrox32::fSetMemL(std::uint32_t Base, std::uint32_t Index, std::uint32_t Value) {
  SetMem(*this, Base, Index, Value);
}

// A read the driver refuses ends the block and leaves the rest of the buffer as it was.
void TFerrox32::ReadPhysicalMemory(std::uint32_t Base, std::uint32_t Offset, std::uint32_t Count, void* Buffer) {
  if (!CoverBlock(*this, Base, Offset, Count, Buffer)) return;
  auto* bytes = static_cast<Byte*>(Buffer);
  InPieces(Base, Offset, Count, [&](std::uint32_t position, std::uint32_t length) {
    if (!Transfer(*this, Request::ReadWindow)) return false;
    std::copy_n(MapRequest().Data, length, bytes + position);
    return true;
  });
}

void TFerrox32::WritePhysicalMemory(std::uint32_t Base, std::uint32_t Offset, std::uint32_t Count, const void* Buffer) {
  if (!CoverBlock(*this, Base, Offset, Count, Buffer)) return;
  const auto* bytes = static_cast<const Byte*>(Buffer);
  InPieces(Base, Offset, Count, [&](std::uint32_t position, std::uint32_t length) {
    std::copy_n(bytes + position, length, MapRequest().Data);
    return Transfer(*this, Request::WriteWindow);
  });
}

}  // namespace ferrox
