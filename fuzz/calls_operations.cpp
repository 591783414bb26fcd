// SPDX-License-Identifier: MIT
// The operations a fuzzed sequence chooses from: every public operation of TFerrox32 with
// ordinary and boundary arguments, and what the virtual PC can do to it (refuse, fail, interrupt,
// forge and delay signals). Where the driver is closed, each operation's fixed result is checked
// here; what holds for every operation is checked by the sequence.
#include <signal.h>

#include <cerrno>
#include <cstring>

#include "ferrox/vpc/kernel/signal_delivery.h"
#include "fuzz/calls_sequence.h"

namespace calls {

namespace {

using ferrox::Byte;
using ferrox::TFerrox32;
using ferrox::Word;

constexpr Word Ports[] = {0x378, 0x379, 0x37A, 0x278, 0x300, 0x1F0, 0x1F7, 0x3F6, 0xCF8, 0xCFC, 0x80, 0x3FF, 0x400, 0xFFFC, 0xFFFF, 0};
constexpr std::uint32_t Bases[] = {0x400,   0x408,      0,          0xFFF,      0xA0000,   0xF0000,
                                   0xFFFF0, 0x100000,   0xFD000000, 0xFDFFFF00, 0xFFFFFF00, 0xFFFFFFFF};
constexpr std::uint32_t Counts[] = {0, 1, 2, 3, 255, 256, 257, 4096, 65535, 65536, 65537, 0x100000, 0x10000000, 0xFFFFFFFF};
constexpr std::uint32_t Indexes[] = {0, 1, 63, 64, 255, 256, 0x3FFFFFFF, 0xFFFFFFFF};
constexpr Byte Lines[] = {0, 1, 3, 5, 7, 14, 15, 16, 200, 255};
constexpr Word PciNumbers[] = {0, 1, 2, 3, 7, 31, 32, 255, 256, 0xFFFF};
constexpr Word Registers[] = {0, 1, 2, 3, 4, 0x3C, 0x3F, 0x40, 0xFC, 0xFD, 0xFF, 0x100, 0xFFFF};
constexpr std::uint32_t RequestNumbers[] = {2, 3, 4, 5, 6, 7, 8, 9, 14, 15, 16, 17, 18, 19, 20};
constexpr int Errors[] = {EIO, EINVAL, EFAULT, ENOMEM, EPERM, EBUSY, ENOSPC};
constexpr int OpenErrors[] = {0, ENOENT, EACCES, EMFILE};
constexpr std::int32_t SignalLines[] = {0, 3, 7, 15, 16, -1, 255, 0x7FFFFFFF};

// Transfers use these bytes, with a guard after the block that must stay as it was. A block too
// large for them goes with a null buffer, which moves nothing. Port blocks are kept shorter: the
// virtual PC carries each element of one out separately.
constexpr std::size_t ScratchSize = 0x20000;
constexpr std::size_t LongestPortBlock = 4096;
constexpr std::size_t GuardSize = 16;
constexpr Byte Untouched = 0xA5;
std::uint8_t scratch[ScratchSize + GuardSize];
ferrox::TMemRec record;

Word port(Sequence& s) { return s.in.pick(Ports, &FuzzInput::u16); }
std::uint32_t base(Sequence& s) { return s.in.pick(Bases, &FuzzInput::u32); }
std::uint32_t count(Sequence& s) { return s.in.pick(Counts, &FuzzInput::u32); }
Byte line(Sequence& s) { return s.in.pick(Lines, &FuzzInput::byte); }
Word pci(Sequence& s) { return s.in.pick(PciNumbers, &FuzzInput::u16); }

// A buffer for Bytes bytes, filled with Untouched up to its guard; null when asked for or longer
// than Longest.
std::uint8_t* buffer(Sequence& s, std::uint64_t bytes, std::size_t longest = ScratchSize) {
  if (bytes > longest || s.in.below(8) == 0) return nullptr;
  std::memset(scratch, Untouched, bytes + GuardSize);
  return scratch;
}

bool all_untouched(const std::uint8_t* from, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i)
    if (from[i] != Untouched) return false;
  return true;
}

// A block read leaves the guard alone, and with the driver closed the whole buffer.
void check_read(const char* name, const std::uint8_t* data, std::uint64_t bytes, bool closed) {
  if (!data) return;
  expect(all_untouched(data + bytes, GuardSize), name, "wrote past the block");
  if (closed) expect(all_untouched(data, bytes), name, "wrote the buffer with the driver closed");
}

template <class Read>
void fifo_read(Sequence& s, Slot& slot, const char* name, unsigned width, Read read) {
  std::uint32_t elements = count(s);
  Word at = port(s);
  s.ports.insert(at);
  std::uint8_t* data = buffer(s, std::uint64_t{elements} * width, LongestPortBlock);
  (slot.component.get()->*read)(at, elements, data);
  check_read(name, data, std::uint64_t{elements} * width, false);
}

template <class Write>
void fifo_write(Sequence& s, Slot& slot, unsigned width, Write write) {
  std::uint32_t elements = count(s);
  Word at = port(s);
  s.ports.insert(at);
  (slot.component.get()->*write)(at, elements, buffer(s, std::uint64_t{elements} * width, LongestPortBlock));
}

template <class Value>
void expect_closed(bool closed, Value got, Value fixed, const char* name) {
  if (closed) expect(got == fixed, name, "answered other than its fixed value with the driver closed");
}

void fill_record(Sequence& s, const TFerrox32& c) {
  record.PhysAddr = s.in.flag() ? c.MappedPhys() : base(s);
  record.Offset = s.in.pick(Indexes, &FuzzInput::u32);
  record.LinearAddr = s.in.flag() ? c.MappedLinear() : s.in.u32();
  record.Count = count(s);
}

// An operation on the slot's component; closed says whether its driver was closed before.
#define ON_COMPONENT(...)                   \
  [](Sequence& s, Slot& slot) {             \
    TFerrox32& c = *slot.component;         \
    bool closed = !c.DriverActive();        \
    (void)s, (void)closed;                  \
    __VA_ARGS__;                            \
  }

}  // namespace

const Operation operations[] = {
    // Life and the driver connection.
    {"destroy", [](Sequence& s, Slot& slot) { s.destroy(slot); }},
    {"OpenDriver", ON_COMPONENT({
       c.OpenDriver();
       if (!closed || !c.DriverActive()) return;
       for (Byte l = 0; l < ferrox::IrqLineCount; ++l)
         expect(c.fGetMasked(l) && c.GetHandledCounter(l) == 0, "OpenDriver", "left a line unmasked or counted");
       expect(c.HardAccess() && c.LPTNumber() == 1, "OpenDriver", "left HardAccess or LPTNumber");
     })},
    {"CloseDriver", ON_COMPONENT({
       c.CloseDriver();
       expect(!c.DriverActive() && c.HardAccess() && !c.Mapped(), "CloseDriver", "left the driver, access or window");
     })},
    {"GetDebugCode", ON_COMPONENT({
       for (Slot& other : s.slots)
         if (other.component) expect(other.component->GetDebugCode() == c.GetDebugCode(), "GetDebugCode", "differs");
     })},
    {"SetOnHwInterrupt", ON_COMPONENT({
       unsigned choice = s.in.below(3);
       c.SetOnHwInterrupt(choice == 0 ? ferrox::TInterruptHandler{} : (choice == 1 ? slot.first : slot.second).handler());
       slot.first.switch_inside = slot.second.switch_inside = s.in.below(4) == 0;
     })},

    // Single ports.
    {"fGetPortB", ON_COMPONENT(expect_closed(closed, c.fGetPortB(port(s)), Byte{0xFF}, "fGetPortB"))},
    {"fGetPortW", ON_COMPONENT(expect_closed(closed, c.fGetPortW(port(s)), Word{0xFFFF}, "fGetPortW"))},
    {"fGetPortL", ON_COMPONENT(expect_closed(closed, c.fGetPortL(port(s)), std::uint32_t{0xFF}, "fGetPortL"))},
    {"fSetPortB", ON_COMPONENT(c.fSetPortB(port(s), s.in.byte()))},
    {"fSetPortW", ON_COMPONENT(c.fSetPortW(port(s), s.in.u16()))},
    {"fSetPortL", ON_COMPONENT(c.fSetPortL(port(s), s.in.u32()))},

    // Port blocks and permissions.
    {"ReadPortFIFO", ON_COMPONENT(fifo_read(s, slot, "ReadPortFIFO", 1, &TFerrox32::ReadPortFIFO))},
    {"ReadPortWFIFO", ON_COMPONENT(fifo_read(s, slot, "ReadPortWFIFO", 2, &TFerrox32::ReadPortWFIFO))},
    {"ReadPortLFIFO", ON_COMPONENT(fifo_read(s, slot, "ReadPortLFIFO", 4, &TFerrox32::ReadPortLFIFO))},
    {"WritePortFIFO", ON_COMPONENT(fifo_write(s, slot, 1, &TFerrox32::WritePortFIFO))},
    {"WritePortWFIFO", ON_COMPONENT(fifo_write(s, slot, 2, &TFerrox32::WritePortWFIFO))},
    {"WritePortLFIFO", ON_COMPONENT(fifo_write(s, slot, 4, &TFerrox32::WritePortLFIFO))},
    {"fSetIoPermission", ON_COMPONENT({
       Word at = port(s);
       s.ports.insert(at);
       c.fSetIoPermission(at);
     })},
    {"fResetAllPermissions", ON_COMPONENT(c.fResetAllPermissions())},
    {"fSetHardAccess", ON_COMPONENT(c.fSetHardAccess(s.in.flag()))},

    // Physical memory.
    {"fMapPhysToLinear", ON_COMPONENT({
       std::uint32_t at = base(s);
       expect_closed(closed, c.fMapPhysToLinear(at, count(s)), std::uint32_t{0}, "fMapPhysToLinear");
     })},
    {"fUnmapMemory", ON_COMPONENT(c.fUnmapMemory())},
    {"fReadMappedMemory", ON_COMPONENT({
       fill_record(s, c);
       c.fReadMappedMemory(s.in.below(8) ? &record : nullptr);
     })},
    {"fWriteMappedMemory", ON_COMPONENT({
       fill_record(s, c);
       c.fWriteMappedMemory(s.in.below(8) ? &record : nullptr);
     })},
    {"fGetMemB", ON_COMPONENT(expect_closed(closed, c.fGetMemB(base(s), s.in.pick(Indexes)), Byte{0xFF}, "fGetMemB"))},
    {"fGetMemW", ON_COMPONENT(expect_closed(closed, c.fGetMemW(base(s), s.in.pick(Indexes)), Word{0xFF}, "fGetMemW"))},
    {"fGetMemL", ON_COMPONENT(expect_closed(closed, c.fGetMemL(base(s), s.in.pick(Indexes)), std::uint32_t{0xFF}, "fGetMemL"))},
    {"fSetMemB", ON_COMPONENT(c.fSetMemB(base(s), s.in.pick(Indexes), s.in.byte()))},
    {"fSetMemW", ON_COMPONENT(c.fSetMemW(base(s), s.in.pick(Indexes), s.in.u16()))},
    {"fSetMemL", ON_COMPONENT(c.fSetMemL(base(s), s.in.pick(Indexes), s.in.u32()))},
    {"ReadPhysicalMemory", ON_COMPONENT({
       std::uint32_t at = base(s), offset = s.in.pick(Indexes, &FuzzInput::u32), bytes = count(s);
       std::uint8_t* data = buffer(s, bytes);
       c.ReadPhysicalMemory(at, offset, bytes, data);
       check_read("ReadPhysicalMemory", data, bytes, closed);
     })},
    {"WritePhysicalMemory", ON_COMPONENT({
       std::uint32_t at = base(s), offset = s.in.pick(Indexes, &FuzzInput::u32), bytes = count(s);
       c.WritePhysicalMemory(at, offset, bytes, buffer(s, bytes));
     })},

    // PCI configuration space.
    {"PciDeviceInfo", ON_COMPONENT({
       ferrox::TPciCfg cfg;
       std::memset(&cfg, Untouched, sizeof cfg);
       bool found = c.PciDeviceInfo(pci(s), pci(s), pci(s), cfg);
       expect_closed(closed, found, false, "PciDeviceInfo");
       if (closed) expect(all_untouched(reinterpret_cast<Byte*>(&cfg), sizeof cfg), "PciDeviceInfo", "wrote Cfg");
     })},
    {"PciGetByte", ON_COMPONENT(expect_closed(closed, c.PciGetByte(pci(s), pci(s), pci(s), s.in.pick(Registers)), Byte{0}, "PciGetByte"))},
    {"PciGetWord", ON_COMPONENT(expect_closed(closed, c.PciGetWord(pci(s), pci(s), pci(s), s.in.pick(Registers)), Word{0}, "PciGetWord"))},
    {"PciGetDword", ON_COMPONENT(expect_closed(closed, c.PciGetDword(pci(s), pci(s), pci(s), s.in.pick(Registers)), std::uint32_t{0}, "PciGetDword"))},
    {"PciSetByte", ON_COMPONENT(c.PciSetByte(pci(s), pci(s), pci(s), s.in.pick(Registers), s.in.byte()))},
    {"PciSetWord", ON_COMPONENT(c.PciSetWord(pci(s), pci(s), pci(s), s.in.pick(Registers), s.in.u16()))},
    {"PciSetDword", ON_COMPONENT(c.PciSetDword(pci(s), pci(s), pci(s), s.in.pick(Registers), s.in.u32()))},

    // Interrupts.
    {"UnmaskInterrupt", ON_COMPONENT(c.UnmaskInterrupt(line(s)))},
    {"MaskInterrupt", ON_COMPONENT(c.MaskInterrupt(line(s)))},
    {"InterruptCounter", ON_COMPONENT(expect_closed(closed, c.InterruptCounter(line(s)), 0, "InterruptCounter"))},
    {"GetHandledCounter", ON_COMPONENT({
       Byte l = line(s);
       if (l >= ferrox::IrqLineCount) expect(c.GetHandledCounter(l) == 0 && c.fGetMasked(l), "GetHandledCounter", "a line past 15");
     })},

    // The parallel port.
    {"fSetLPTNumber", ON_COMPONENT(c.fSetLPTNumber(static_cast<Byte>(s.in.below(5))))},
    {"fSetLPTIrq", ON_COMPONENT(c.fSetLPTIrq(s.in.flag()))},
    {"fSetLPTReadMode", ON_COMPONENT(c.fSetLPTReadMode(s.in.flag()))},
    {"fGetPin", ON_COMPONENT(c.fGetPin(static_cast<Byte>(s.in.below(19))))},
    {"fSetPin", ON_COMPONENT(c.fSetPin(static_cast<Byte>(s.in.below(19)), s.in.flag()))},
    {"status lines", ON_COMPONENT({
       c.fGetLPTAckwl();
       c.fGetLPTBusy();
       c.fGetLPTPaperEnd();
       c.fGetLPTSlct();
       c.fGetLPTError();
     })},
    {"LPTStrobe", ON_COMPONENT(c.LPTStrobe())},
    {"LPTAutofd", ON_COMPONENT(c.LPTAutofd(s.in.flag()))},
    {"LPTInit", ON_COMPONENT(c.LPTInit())},
    {"LPTSlctIn", ON_COMPONENT(c.LPTSlctIn())},

    // What the virtual PC does to the library.
    {"refuse open", [](Sequence& s, Slot&) { s.pc.faults().refuse_open(s.in.pick(OpenErrors)); }},
    {"fail request", [](Sequence& s, Slot&) {
       s.pc.faults().fail_request(s.in.pick(RequestNumbers), s.in.pick(Errors), s.in.flag() ? ferrox::vpc::Times::Once : ferrox::vpc::Times::Always);
     }},
    {"refuse map", [](Sequence& s, Slot&) { s.pc.faults().refuse_map(s.in.flag() ? ferrox::vpc::Times::Once : ferrox::vpc::Times::Always); }},
    {"clear faults", [](Sequence& s, Slot&) { s.pc.faults().clear(); }},
    {"interrupt", [](Sequence& s, Slot&) { s.pc.irqs().raise(s.in.below(ferrox::IrqLineCount)); }},
    // Only once the library handles signal 44: before, the signal ends a process by default.
    {"forged signal", [](Sequence& s, Slot&) {
       struct sigaction action {};
       sigaction(ferrox::InterruptSignal, nullptr, &action);
       if (!(action.sa_flags & SA_SIGINFO)) return;
       std::uint32_t cookie = s.cookies.empty() || s.in.flag() ? s.in.u32() : s.cookies[s.in.below(256) % s.cookies.size()] + s.in.below(2);
       ferrox::vpc::send_driver_signal(ferrox::InterruptSignal, static_cast<std::int32_t>(cookie), s.in.pick(SignalLines));
     }},
    {"hold signals", [](Sequence& s, Slot&) {
       if (s.held) s.held.reset();  // the signals held meanwhile go out now, late
       else s.held.emplace(s.pc.irqs());
     }},
};

const std::size_t operation_count = sizeof operations / sizeof operations[0];

}  // namespace calls
