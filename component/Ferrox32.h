// SPDX-License-Identifier: MIT
// TFerrox32: user-space access to PC hardware: I/O ports, physical memory, PCI configuration
// space, hardware interrupts and the parallel port, through the kernel driver "/dev/ferrox" or
// directly with the processor's port instructions.
//
// The component raises no exception and logs nothing: operations report through their results
// and the state readable below. Operations share module-wide request records, one set for all the
// components of the process: two threads, each with a component of its own, still share them, so
// a process calls the operations from one thread at a time. OnHwInterrupt runs inside the handler
// of signal 44, on whichever thread takes the signal. Components may be created and destroyed on
// any thread; that takes a lock and waits for handlers running on other threads to return, so an
// OnHwInterrupt must not wait for a thread that creates or destroys components, nor create or
// destroy one itself while another thread does.
#pragma once

#include <atomic>
#include <cstdint>

#include "ferrox/framework/TComponent.h"
#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/hwtypes/HW_Types.h"
#include "ferrox/hwtypes/PcHardware.h"

namespace ferrox {

class TFerrox32;
namespace detail {
void DeliverInterrupt(TFerrox32& Component, Byte Line);
}

constexpr int IrqLineCount = 16;
constexpr int LptSlotCount = 3;
constexpr Word DefaultLptBase = lpt::PrimaryBase;

class FERROX_API TFerrox32 final : public framework::TComponent {
 public:
  explicit TFerrox32(framework::TComponent* AOwner);
  ~TFerrox32() override;

  // Driver connection.
  void OpenDriver();
  void CloseDriver();
  // The module-wide permission table: 65536 bytes, 1 where a direct-access grant is recorded.
  void* GetDebugCode() const;

  // Single ports: through the driver (HardAccess True) or with port instructions.
  Byte fGetPortB(Word Port);
  Word fGetPortW(Word Port);
  std::uint32_t fGetPortL(Word Port);
  void fSetPortB(Word Port, Byte Value);
  void fSetPortW(Word Port, Word Value);
  void fSetPortL(Word Port, std::uint32_t Value);

  // Port blocks: always port instructions, one repeated string instruction per block.
  void ReadPortFIFO(Word Port, std::uint32_t Count, void* Buffer);
  void WritePortFIFO(Word Port, std::uint32_t Count, const void* Buffer);
  void ReadPortWFIFO(Word Port, std::uint32_t Count, void* Buffer);
  void WritePortWFIFO(Word Port, std::uint32_t Count, const void* Buffer);
  void ReadPortLFIFO(Word Port, std::uint32_t Count, void* Buffer);
  void WritePortLFIFO(Word Port, std::uint32_t Count, const void* Buffer);

  // I/O permissions and access mode.
  bool fSetIoPermission(Word Port);
  void fResetAllPermissions();
  void fSetHardAccess(bool Value);
  bool HardAccess() const { return FHardAccess; }

  // Physical memory window.
  std::uint32_t fMapPhysToLinear(std::uint32_t PhysAddr, std::uint32_t Size);
  void fUnmapMemory();
  void fReadMappedMemory(TMemRec* Rec);
  void fWriteMappedMemory(TMemRec* Rec);

  // Single values of physical memory, by window address and element index.
  Byte fGetMemB(std::uint32_t Base, std::uint32_t Index);
  Word fGetMemW(std::uint32_t Base, std::uint32_t Index);
  std::uint32_t fGetMemL(std::uint32_t Base, std::uint32_t Index);
  void fSetMemB(std::uint32_t Base, std::uint32_t Index, Byte Value);
  void fSetMemW(std::uint32_t Base, std::uint32_t Index, Word Value);
  void fSetMemL(std::uint32_t Base, std::uint32_t Index, std::uint32_t Value);

  // Physical memory blocks.
  void ReadPhysicalMemory(std::uint32_t Base, std::uint32_t Offset, std::uint32_t Count, void* Buffer);
  void WritePhysicalMemory(std::uint32_t Base, std::uint32_t Offset, std::uint32_t Count, const void* Buffer);

  // PCI configuration space (always through the driver).
  bool PciDeviceInfo(Word Bus, Word Device, Word Function, TPciCfg& Cfg);
  Byte PciGetByte(Word Bus, Word Device, Word Function, Word Reg);
  Word PciGetWord(Word Bus, Word Device, Word Function, Word Reg);
  std::uint32_t PciGetDword(Word Bus, Word Device, Word Function, Word Reg);
  void PciSetByte(Word Bus, Word Device, Word Function, Word Reg, Byte Value);
  void PciSetWord(Word Bus, Word Device, Word Function, Word Reg, Word Value);
  void PciSetDword(Word Bus, Word Device, Word Function, Word Reg, std::uint32_t Value);

  // Hardware interrupts.
  void UnmaskInterrupt(Byte Line);
  void MaskInterrupt(Byte Line);
  std::int32_t InterruptCounter(Byte Line);
  std::uint32_t GetHandledCounter(Byte Line) const;
  bool fGetMasked(Byte Line) const;
  TInterruptHandler OnHwInterrupt() const;
  // A signal 44 handled meanwhile, on any thread, calls the old handler or the new one.
  void SetOnHwInterrupt(TInterruptHandler Handler);

  // Parallel port selection and modes.
  Byte LPTNumber() const { return FLPTNumber; }
  void fSetLPTNumber(Byte Number);
  void fSetLPTIrq(bool Enable);
  void fSetLPTReadMode(bool ReadMode);

  // Parallel port pins (1..17, electrical levels) and control lines.
  bool fGetPin(Byte Pin);
  void fSetPin(Byte Pin, bool Level);
  bool fGetLPTAckwl();
  bool fGetLPTBusy();
  bool fGetLPTPaperEnd();
  bool fGetLPTSlct();
  bool fGetLPTError();
  void LPTStrobe();
  void LPTAutofd(bool Assert);
  void LPTInit();
  void LPTSlctIn();

  // Read-only state.
  bool DriverActive() const { return FDriverActive; }
  std::int32_t DriverHandle() const { return FDriverHandle; }
  std::int32_t IoplLevel() const { return FIoplLevel; }
  bool Mapped() const { return FMapped; }
  std::uint32_t MappedPhys() const { return FMappedPhys; }
  std::uint32_t MappedSize() const { return FMappedSize; }
  std::uint32_t MappedLinear() const { return FMappedLinear; }
  Byte LPTCount() const { return FLPTCount; }
  Word LPTAddress(int Slot) const { return Slot >= 1 && Slot <= LptSlotCount ? FLPTAddress[Slot - 1] : 0; }
  Word LPTBase() const { return FLPTBase; }
  bool LPTIrq() const { return FLPTIrq; }
  bool LPTReadMode() const { return FLPTReadMode; }
  Byte LPTWriteShadow(int Register) const { return Register >= 0 && Register < 3 ? FLPTWriteShadow[Register] : 0; }
  Byte LPTReadShadow(int Register) const { return Register >= 0 && Register < 3 ? FLPTReadShadow[Register] : 0; }

 private:
  std::int32_t FDriverHandle = 0;
  bool FDriverActive = false;
  bool FHardAccess = true;
  std::int32_t FIoplLevel = 0;
  bool FMapped = false;
  std::uint32_t FMappedPhys = 0;
  std::uint32_t FMappedSize = 0;
  std::uint32_t FMappedLinear = 0;
  // OnHwInterrupt as the handler of signal 44 reads it, on whatever thread it runs: a count of
  // changes, odd while one is under way, lets a reader that met a change read again, so it never
  // pairs the code of one handler with the object of another.
  class SignalSafeHandler {
   public:
    TInterruptHandler Load() const;
    void Store(TInterruptHandler Handler);

   private:
    std::atomic<std::uint32_t> FChanges{0};
    std::atomic<TInterruptHandler::CodePointer> FCode{nullptr};
    std::atomic<void*> FData{nullptr};
  };
  SignalSafeHandler FOnHwInterrupt;
  // Written by the signal handler: lock-free atomics are async-signal-safe.
  std::atomic<std::uint32_t> FHandledCounter[IrqLineCount] = {};
  bool FMasked[IrqLineCount] = {};
  bool FLPTIrq = false;
  bool FLPTReadMode = false;
  Word FLPTAddress[LptSlotCount] = {};
  Word FLPTBase = DefaultLptBase;
  Byte FLPTWriteShadow[3] = {};
  Byte FLPTReadShadow[3] = {};
  Byte FLPTNumber = 1;
  Byte FLPTCount = 0;

  // Pins the module-wide records for this component's lifetime.
  class RecordsLease {
   public:
    RecordsLease();
    ~RecordsLease();
    RecordsLease(const RecordsLease&) = delete;
    RecordsLease& operator=(const RecordsLease&) = delete;
  };
  RecordsLease FRecords;

  // Names this component to the driver and to the handler of signal 44 while it lives. Declared
  // last, so it is given up before any field the handler reads is destroyed; giving it up waits
  // for handlers running on other threads.
  class InterruptCookie {
   public:
    explicit InterruptCookie(TFerrox32* Owner);
    ~InterruptCookie();
    InterruptCookie(const InterruptCookie&) = delete;
    InterruptCookie& operator=(const InterruptCookie&) = delete;
    std::uint32_t Value() const { return FValue; }

   private:
    std::uint32_t FValue;
  };
  InterruptCookie FInterruptCookie{this};
  friend void detail::DeliverInterrupt(TFerrox32& Component, Byte Line);
  // Port access (ports.cpp), inline in the transfers so that a port whose grant is recorded costs
  // one table load: a grant recorded or obtained now for Port; and whether a single-port transfer
  // takes the direct path, falling back to the driver for good when the grant is refused.
  FERROX_INTERNAL bool PortGranted(Word Port);
  FERROX_INTERNAL bool DirectPortAccess(Word Port);
  // The byte transfers beyond their common case, the direct path on a port whose grant is
  // recorded.
  FERROX_INTERNAL Byte GetPortBSlowly(Word Port);
  FERROX_INTERNAL void SetPortBSlowly(Word Port, Byte Value);
  // Parallel ports (lpt.cpp): fills FLPTAddress from the BIOS data area, the last step of
  // OpenDriver once the driver is open.
  FERROX_INTERNAL void DiscoverLPTPorts();
};

}  // namespace ferrox
