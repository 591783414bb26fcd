// SPDX-License-Identifier: MIT
// The catalogue of operations. Each case names what it measures: the driver path (HardAccess
// True) or the direct path (False, the grant recorded by a first call before measuring), and the
// size of a block.
#include "bench/operations.h"

#include "ferrox/hwtypes/PcHardware.h"
#include "ferrox/hwtypes/PciHeader.h"
#include "ferrox/vpc/machine.h"

namespace bench {

namespace {

using ferrox::TFerrox32;

// The default machine's devices: LPT1 with a printer, the FIFO device, the VGA function's
// frame buffer, the host bridge.
constexpr ferrox::Word LptData = ferrox::lpt::PrimaryBase + ferrox::lpt::Data;
constexpr ferrox::Word LptStatus = ferrox::lpt::PrimaryBase + ferrox::lpt::Status;
constexpr ferrox::Word FifoData = 0x300;
constexpr ferrox::Word NoDevice = 0x310;  // writes go nowhere: no device records them
constexpr std::uint32_t FrameBuffer = 0xFD000000;
constexpr ferrox::Word VgaDevice = 2;
constexpr ferrox::Word InterruptLineRegister = ferrox::pci_header::InterruptLine;
constexpr ferrox::Word CommandRegister = ferrox::pci_header::Command;
constexpr ferrox::Byte SpareIrq = 5;  // LPT2's line: nothing raises it here
constexpr ferrox::Byte LptIrq = ferrox::lpt::ConventionalIrq(ferrox::lpt::PrimaryBase);

constexpr std::uint32_t KiB = 1024;
constexpr std::uint32_t Block = 4 * KiB;

TFerrox32& Ferrox(Workbench& bench) { return bench.component(); }

void Nothing(Workbench&) {}
void DirectPath(Workbench& bench) { bench.component().fSetHardAccess(false); }
void MapFrameBuffer(Workbench& bench) { bench.component().fMapPhysToLinear(FrameBuffer, 64 * KiB); }

// The record of fReadMappedMemory and fWriteMappedMemory: a block at the start of the window.
void WindowRecord(Workbench& bench) {
  MapFrameBuffer(bench);
  ferrox::TMemRec& record = bench.record();
  record.PhysAddr = FrameBuffer;
  record.Offset = 0;
  record.LinearAddr = bench.component().MappedLinear();
  record.Count = Block;
}

void HandleInterrupts(Workbench& bench) {
  bench.component().SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&Workbench::OnIrq>(&bench));
}

void ListenToLptIrq(Workbench& bench) {
  HandleInterrupts(bench);
  bench.component().UnmaskInterrupt(LptIrq);
}

// An interrupt on the virtual PC: its signal is delivered before raise returns.
void RaiseLptIrq(Workbench& bench) {
  std::uint32_t before = bench.interrupts;
  ferrox::vpc::Machine::instance().irqs().raise(LptIrq);
  while (bench.interrupts == before) {
  }
}

template <class Value>
Value VgaRegister(TFerrox32& component, ferrox::Word Reg);
template <>
ferrox::Byte VgaRegister(TFerrox32& component, ferrox::Word Reg) {
  return component.PciGetByte(0, VgaDevice, 0, Reg);
}
template <>
ferrox::Word VgaRegister(TFerrox32& component, ferrox::Word Reg) {
  return component.PciGetWord(0, VgaDevice, 0, Reg);
}
template <>
std::uint32_t VgaRegister(TFerrox32& component, ferrox::Word Reg) {
  return component.PciGetDword(0, VgaDevice, 0, Reg);
}

// The PCI writes put back what the register holds, so the machine stays as it was.
template <class Value, ferrox::Word Reg>
void RememberVgaRegister(Workbench& bench) {
  bench.value = VgaRegister<Value>(bench.component(), Reg);
}

std::vector<Operation> catalogue() {
  constexpr unsigned DriverPathGoal = 40;
  constexpr unsigned DirectPathGoal = 16;
  return {
      // Single ports.
      {"fGetPortB/driver", DriverPathGoal, Nothing, [](Workbench& b) { Ferrox(b).fGetPortB(LptStatus); }},
      {"fGetPortB/direct", DirectPathGoal, DirectPath, [](Workbench& b) { Ferrox(b).fGetPortB(LptStatus); }},
      {"fSetPortB/driver", {}, Nothing, [](Workbench& b) { Ferrox(b).fSetPortB(LptData, 0x55); }},
      {"fSetPortB/direct", {}, DirectPath, [](Workbench& b) { Ferrox(b).fSetPortB(LptData, 0x55); }},
      {"fGetPortW/driver", {}, Nothing, [](Workbench& b) { Ferrox(b).fGetPortW(NoDevice); }},
      {"fGetPortW/direct", {}, DirectPath, [](Workbench& b) { Ferrox(b).fGetPortW(NoDevice); }},
      {"fSetPortW/driver", {}, Nothing, [](Workbench& b) { Ferrox(b).fSetPortW(NoDevice, 0x55AA); }},
      {"fSetPortW/direct", {}, DirectPath, [](Workbench& b) { Ferrox(b).fSetPortW(NoDevice, 0x55AA); }},
      {"fGetPortL/driver", {}, Nothing, [](Workbench& b) { Ferrox(b).fGetPortL(NoDevice); }},
      {"fGetPortL/direct", {}, DirectPath, [](Workbench& b) { Ferrox(b).fGetPortL(NoDevice); }},
      {"fSetPortL/driver", {}, Nothing, [](Workbench& b) { Ferrox(b).fSetPortL(NoDevice, 0x55AA55AA); }},
      {"fSetPortL/direct", {}, DirectPath, [](Workbench& b) { Ferrox(b).fSetPortL(NoDevice, 0x55AA55AA); }},
      // Port blocks of 4 KiB.
      {"ReadPortFIFO/4KiB", {}, Nothing, [](Workbench& b) { Ferrox(b).ReadPortFIFO(FifoData, Block, b.buffer()); }},
      {"ReadPortWFIFO/4KiB",
       {},
       Nothing,
       [](Workbench& b) { Ferrox(b).ReadPortWFIFO(FifoData, Block / 2, b.buffer()); }},
      {"ReadPortLFIFO/4KiB",
       {},
       Nothing,
       [](Workbench& b) { Ferrox(b).ReadPortLFIFO(FifoData, Block / 4, b.buffer()); }},
      {"WritePortFIFO/4KiB", {}, Nothing, [](Workbench& b) { Ferrox(b).WritePortFIFO(NoDevice, Block, b.buffer()); }},
      {"WritePortWFIFO/4KiB",
       {},
       Nothing,
       [](Workbench& b) { Ferrox(b).WritePortWFIFO(NoDevice, Block / 2, b.buffer()); }},
      {"WritePortLFIFO/4KiB",
       {},
       Nothing,
       [](Workbench& b) { Ferrox(b).WritePortLFIFO(NoDevice, Block / 4, b.buffer()); }},
      // Permissions and access mode.
      {"fSetIoPermission/recorded", {}, Nothing, [](Workbench& b) { Ferrox(b).fSetIoPermission(NoDevice); }},
      {"fSetHardAccess", {}, Nothing, [](Workbench& b) { Ferrox(b).fSetHardAccess(true); }},
      {"fResetAllPermissions", {}, Nothing, [](Workbench& b) { Ferrox(b).fResetAllPermissions(); }},
      // Physical memory: the frame buffer's window stays mapped.
      {"fMapPhysToLinear+fUnmapMemory",
       {},
       Nothing,
       [](Workbench& b) {
         Ferrox(b).fMapPhysToLinear(FrameBuffer, Block);
         Ferrox(b).fUnmapMemory();
       }},
      {"fReadMappedMemory/4KiB", {}, WindowRecord, [](Workbench& b) { Ferrox(b).fReadMappedMemory(&b.record()); }},
      {"fWriteMappedMemory/4KiB", {}, WindowRecord, [](Workbench& b) { Ferrox(b).fWriteMappedMemory(&b.record()); }},
      {"fGetMemB", {}, MapFrameBuffer, [](Workbench& b) { Ferrox(b).fGetMemB(FrameBuffer, 1); }},
      {"fGetMemW", {}, MapFrameBuffer, [](Workbench& b) { Ferrox(b).fGetMemW(FrameBuffer, 1); }},
      {"fGetMemL", {}, MapFrameBuffer, [](Workbench& b) { Ferrox(b).fGetMemL(FrameBuffer, 1); }},
      {"fSetMemB", {}, MapFrameBuffer, [](Workbench& b) { Ferrox(b).fSetMemB(FrameBuffer, 1, 0x55); }},
      {"fSetMemW", {}, MapFrameBuffer, [](Workbench& b) { Ferrox(b).fSetMemW(FrameBuffer, 1, 0x55AA); }},
      {"fSetMemL", {}, MapFrameBuffer, [](Workbench& b) { Ferrox(b).fSetMemL(FrameBuffer, 1, 0x55AA55AA); }},
      {"ReadPhysicalMemory/4KiB",
       {},
       MapFrameBuffer,
       [](Workbench& b) { Ferrox(b).ReadPhysicalMemory(FrameBuffer, 0, Block, b.buffer()); }},
      {"ReadPhysicalMemory/64KiB",
       {},
       MapFrameBuffer,
       [](Workbench& b) { Ferrox(b).ReadPhysicalMemory(FrameBuffer, 0, 64 * KiB, b.buffer()); }},
      {"WritePhysicalMemory/4KiB",
       {},
       MapFrameBuffer,
       [](Workbench& b) { Ferrox(b).WritePhysicalMemory(FrameBuffer, 0, Block, b.buffer()); }},
      {"WritePhysicalMemory/64KiB",
       {},
       MapFrameBuffer,
       [](Workbench& b) { Ferrox(b).WritePhysicalMemory(FrameBuffer, 0, 64 * KiB, b.buffer()); }},
      // PCI configuration space.
      {"PciDeviceInfo", {}, Nothing, [](Workbench& b) { Ferrox(b).PciDeviceInfo(0, 0, 0, b.header()); }},
      {"PciGetByte", {}, Nothing, [](Workbench& b) { Ferrox(b).PciGetByte(0, VgaDevice, 0, InterruptLineRegister); }},
      {"PciGetWord", {}, Nothing, [](Workbench& b) { Ferrox(b).PciGetWord(0, VgaDevice, 0, CommandRegister); }},
      {"PciGetDword", {}, Nothing, [](Workbench& b) { Ferrox(b).PciGetDword(0, VgaDevice, 0, 0); }},
      {"PciSetByte",
       {},
       RememberVgaRegister<ferrox::Byte, InterruptLineRegister>,
       [](Workbench& b) { Ferrox(b).PciSetByte(0, VgaDevice, 0, InterruptLineRegister, ferrox::Byte(b.value)); }},
      {"PciSetWord",
       {},
       RememberVgaRegister<ferrox::Word, CommandRegister>,
       [](Workbench& b) { Ferrox(b).PciSetWord(0, VgaDevice, 0, CommandRegister, ferrox::Word(b.value)); }},
      {"PciSetDword",
       {},
       RememberVgaRegister<std::uint32_t, InterruptLineRegister>,
       [](Workbench& b) { Ferrox(b).PciSetDword(0, VgaDevice, 0, InterruptLineRegister, b.value); }},
      // Interrupts.
      {"UnmaskInterrupt+MaskInterrupt",
       {},
       HandleInterrupts,
       [](Workbench& b) {
         Ferrox(b).UnmaskInterrupt(SpareIrq);
         Ferrox(b).MaskInterrupt(SpareIrq);
       }},
      {"InterruptCounter", {}, Nothing, [](Workbench& b) { Ferrox(b).InterruptCounter(LptIrq); }},
      {"GetHandledCounter", {}, Nothing, [](Workbench& b) { Ferrox(b).GetHandledCounter(LptIrq); }},
      {"OnHwInterrupt/delivery", {}, ListenToLptIrq, RaiseLptIrq},
      // The parallel port, through the driver.
      {"fSetLPTNumber", {}, Nothing, [](Workbench& b) { Ferrox(b).fSetLPTNumber(1); }},
      {"fSetLPTIrq", {}, Nothing, [](Workbench& b) { Ferrox(b).fSetLPTIrq(false); }},
      {"fSetLPTReadMode", {}, Nothing, [](Workbench& b) { Ferrox(b).fSetLPTReadMode(false); }},
      {"fGetPin", {}, Nothing, [](Workbench& b) { Ferrox(b).fGetPin(11); }},
      {"fSetPin", {}, Nothing, [](Workbench& b) { Ferrox(b).fSetPin(2, true); }},
      {"fGetLPTAckwl", {}, Nothing, [](Workbench& b) { Ferrox(b).fGetLPTAckwl(); }},
      {"fGetLPTBusy", {}, Nothing, [](Workbench& b) { Ferrox(b).fGetLPTBusy(); }},
      {"fGetLPTPaperEnd", {}, Nothing, [](Workbench& b) { Ferrox(b).fGetLPTPaperEnd(); }},
      {"fGetLPTSlct", {}, Nothing, [](Workbench& b) { Ferrox(b).fGetLPTSlct(); }},
      {"fGetLPTError", {}, Nothing, [](Workbench& b) { Ferrox(b).fGetLPTError(); }},
      {"LPTStrobe", {}, Nothing, [](Workbench& b) { Ferrox(b).LPTStrobe(); }},
      {"LPTAutofd", {}, Nothing, [](Workbench& b) { Ferrox(b).LPTAutofd(false); }},
      {"LPTInit", {}, Nothing, [](Workbench& b) { Ferrox(b).LPTInit(); }},
      {"LPTSlctIn", {}, Nothing, [](Workbench& b) { Ferrox(b).LPTSlctIn(); }},
      // The component and its driver.
      {"OpenDriver+CloseDriver",
       {},
       Nothing,
       [](Workbench& b) {
         Ferrox(b).CloseDriver();
         Ferrox(b).OpenDriver();
       }},
      // The only component of the process: its records are allocated and released with it.
      {"Create+Free/only", {}, [](Workbench& b) { b.free_component(); }, [](Workbench&) { make_component(); }},
  };
}

}  // namespace

Workbench::Workbench()
    : buffer_(std::make_unique<std::uint8_t[]>(64 * KiB)), record_(std::make_unique<ferrox::TMemRec>()) {
  ferrox::vpc::Machine::instance().reset();
  component_ = make_component();
  component_->OpenDriver();
}

const std::vector<Operation>& operations() {
  static const std::vector<Operation> all = catalogue();
  return all;
}

}  // namespace bench
