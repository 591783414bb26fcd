// SPDX-License-Identifier: MIT
// TFerrox32 parallel port: discovery of the installed ports in the BIOS data area, selection of
// the active port and its two mode bits, and the 17 pins of its connector with the printer
// control actions built on them.
//
// Every register access goes through fGetPortB and fSetPortB, so it follows HardAccess. A write
// to a register is always built from FLPTWriteShadow, never from a fresh read: callers and the
// devices on the port may rely on the exact bytes that go out. Register addresses are computed
// in 16 bits, so a port based at 0xFFFF has its status register at port 0; the operations here
// keep the shadows themselves because the byte accessors only see an unwrapped range.
#include "ferrox/component/Ferrox32.h"
#include "ferrox/hwtypes/PcHardware.h"

namespace ferrox {

namespace {

// The firmware's table of parallel-port base addresses: one 16-bit word per slot, 0 when empty.
constexpr std::uint32_t BiosLptTable = 0x408;
constexpr std::uint32_t BiosLptTableSize = LptSlotCount * sizeof(Word);

bool ValidPin(Byte Pin) { return Pin >= 1 && Pin <= LptPinCount; }

}  // namespace

void TFerrox32::DiscoverLPTPorts() {
  // A window that cannot be mapped reads as empty slots, so nothing is discovered then.
  fMapPhysToLinear(BiosLptTable, BiosLptTableSize);
  for (std::uint32_t slot = 0; slot < LptSlotCount; ++slot) {
    Word base = fGetMemW(BiosLptTable, slot);
    // Ports are numbered by their order among the filled slots, not by slot.
    if (base != 0) FLPTAddress[FLPTCount++] = base;
  }
  fUnmapMemory();
  if (FLPTCount == 0) return;
  FLPTBase = FLPTAddress[0];
  FLPTNumber = 1;
  FLPTIrq = false;
  FLPTReadMode = false;
}

void TFerrox32::fSetLPTNumber(Byte Number) {
  if (!FDriverActive || Number == 0 || Number > FLPTCount) return;
  FLPTBase = FLPTAddress[Number - 1];
  // Two passes over the registers: the second loads the write shadow, so the next write to a
  // register starts from what the port holds now.
  for (Byte reg = 0; reg < lpt::RegisterCount; ++reg) FLPTReadShadow[reg] = fGetPortB(static_cast<Word>(FLPTBase + reg));
  for (Byte reg = 0; reg < lpt::RegisterCount; ++reg) {
    FLPTWriteShadow[reg] = fGetPortB(static_cast<Word>(FLPTBase + reg));
    FLPTReadShadow[reg] = FLPTWriteShadow[reg];
  }
  FLPTIrq = (FLPTWriteShadow[lpt::Control] & lpt::IrqEnable) != 0;
  FLPTNumber = Number;
}

void TFerrox32::fSetLPTIrq(bool Enable) {
  if (!FDriverActive) return;
  Byte control = FLPTWriteShadow[lpt::Control];
  control = Enable ? control | lpt::IrqEnable : control & ~lpt::IrqEnable;
  fSetPortB(static_cast<Word>(FLPTBase + lpt::Control), control);
  FLPTWriteShadow[lpt::Control] = control;
  FLPTIrq = Enable;
}

void TFerrox32::fSetLPTReadMode(bool ReadMode) {
  if (!FDriverActive) return;
  Byte& control = FLPTWriteShadow[lpt::Control];
  control = ReadMode ? control | lpt::Direction : control & ~lpt::Direction;
  fSetPortB(static_cast<Word>(FLPTBase + lpt::Control), control);
  FLPTReadMode = ReadMode;
}

bool TFerrox32::fGetPin(Byte Pin) {
  if (!FDriverActive || !ValidPin(Pin)) return false;
  Byte reg = PinsPort[Pin];
  Byte value = fGetPortB(static_cast<Word>(FLPTBase + reg));
  FLPTReadShadow[reg] = value;
  return lpt::PinLevel(value, Pin);
}

void TFerrox32::fSetPin(Byte Pin, bool Level) {
  if (!FDriverActive || !ValidPin(Pin)) return;
  Byte reg = PinsPort[Pin];
  Byte value = lpt::WithPinLevel(FLPTWriteShadow[reg], Pin, Level);
  fSetPortB(static_cast<Word>(FLPTBase + reg), value);
  FLPTWriteShadow[reg] = value;
}

bool TFerrox32::fGetLPTAckwl() { return !fGetPin(lpt::AcknowledgePin); }
bool TFerrox32::fGetLPTBusy() { return fGetPin(lpt::BusyPin); }
bool TFerrox32::fGetLPTPaperEnd() { return fGetPin(lpt::PaperEndPin); }
// True when the select line is low.
bool TFerrox32::fGetLPTSlct() { return !fGetPin(lpt::SelectPin); }
bool TFerrox32::fGetLPTError() { return !fGetPin(lpt::ErrorPin); }

void TFerrox32::LPTStrobe() {
  lpt::PulseLow([this](unsigned Pin, bool Level) { fSetPin(static_cast<Byte>(Pin), Level); }, lpt::StrobePin);
}

void TFerrox32::LPTAutofd(bool Assert) { fSetPin(lpt::AutoFeedPin, !Assert); }

void TFerrox32::LPTInit() {
  lpt::PulseLow([this](unsigned Pin, bool Level) { fSetPin(static_cast<Byte>(Pin), Level); }, lpt::InitPin);
}

// Drives the init line low and releases select in (pin 17 high). The shadow loses its select-in
// bit even while the driver is closed, when the write itself is dropped.
void TFerrox32::LPTSlctIn() {
  fSetPin(lpt::InitPin, false);
  FLPTWriteShadow[lpt::Control] &= static_cast<Byte>(~lpt::SelectIn);
  fSetPortB(static_cast<Word>(FLPTBase + lpt::Control), FLPTWriteShadow[lpt::Control]);
}

}  // namespace ferrox
