// SPDX-License-Identifier: MIT
// TFerrox32 PCI configuration space: a function's 64-byte header and its 8-, 16- and 32-bit
// registers. Always through the driver, whatever HardAccess says.
#include <sys/ioctl.h>

#include <cstddef>
#include <cstring>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/component/ModuleRecords.h"

namespace ferrox {

namespace {

// The head of both records that request 16 takes, the caller's TPciCfg and PciRequest.
struct PciRequestHead {
  Word Bus;
  Word DevFn;
  Word Reg;
  Word Count;
};
static_assert(sizeof(PciRequestHead) == offsetof(TPciRequest, Value));

Word DevFn(Word Device, Word Function) { return static_cast<Word>((Device & 0x1F) << 3 | (Function & 7)); }

// Bytes of the record past the head keep whatever they held.
void PutHead(void* Record, Word Bus, Word Device, Word Function, Word Reg, Word Count) {
  const PciRequestHead Head{Bus, DevFn(Device, Function), Reg, Count};
  std::memcpy(Record, &Head, sizeof Head);
}

// The driver returns the register's value as the request's result. A failed request returns -1,
// which reads as all ones, PCI's own "no device". Linux reserves the results -4095..-1 for errors,
// so in a 32-bit process the values 0xFFFFF001..0xFFFFFFFE cannot travel this way and read as all
// ones too; a 64-bit kernel returns them zero-extended to a 64-bit process, which receives them.
std::uint32_t ReadRegister(int Handle, Word Bus, Word Device, Word Function, Word Reg, Word Count) {
  TPciRequest* Record = detail::Records().PciRequest;
  PutHead(Record, Bus, Device, Function, Reg, Count);
  return static_cast<std::uint32_t>(ioctl(Handle, Request::PciRead, Record));
}

void WriteRegister(int Handle, Word Bus, Word Device, Word Function, Word Reg, Word Count, std::uint32_t Value) {
  TPciRequest* Record = detail::Records().PciRequest;
  PutHead(Record, Bus, Device, Function, Reg, Count);
  Record->Value = Value;
  ioctl(Handle, Request::PciWrite, Record);  // a failed write goes unnoticed
}

}  // namespace

bool TFerrox32::PciDeviceInfo(Word Bus, Word Device, Word Function, TPciCfg& Cfg) {
  if (!FDriverActive) return false;
  PutHead(&Cfg, Bus, Device, Function, 0, PciHeaderCount);
  int Result = ioctl(FDriverHandle, Request::PciRead, &Cfg);
  // 0: no function answers there. -1: the request failed, and the driver filled nothing.
  return Result != 0 && Result != -1;
}

Byte TFerrox32::PciGetByte(Word Bus, Word Device, Word Function, Word Reg) {
  if (!FDriverActive) return 0;
  return static_cast<Byte>(ReadRegister(FDriverHandle, Bus, Device, Function, Reg, 1));
}

Word TFerrox32::PciGetWord(Word Bus, Word Device, Word Function, Word Reg) {
  if (!FDriverActive) return 0;
  return static_cast<Word>(ReadRegister(FDriverHandle, Bus, Device, Function, Reg, 2));
}

std::uint32_t TFerrox32::PciGetDword(Word Bus, Word Device, Word Function, Word Reg) {
  if (!FDriverActive) return 0;
  return ReadRegister(FDriverHandle, Bus, Device, Function, Reg, 4);
}

void TFerrox32::PciSetByte(Word Bus, Word Device, Word Function, Word Reg, Byte Value) {
  if (FDriverActive) WriteRegister(FDriverHandle, Bus, Device, Function, Reg, 1, Value);
}

void TFerrox32::PciSetWord(Word Bus, Word Device, Word Function, Word Reg, Word Value) {
  if (FDriverActive) WriteRegister(FDriverHandle, Bus, Device, Function, Reg, 2, Value);
}

void TFerrox32::PciSetDword(Word Bus, Word Device, Word Function, Word Reg, std::uint32_t Value) {
  if (FDriverActive) WriteRegister(FDriverHandle, Bus, Device, Function, Reg, 4, Value);
}

}  // namespace ferrox
