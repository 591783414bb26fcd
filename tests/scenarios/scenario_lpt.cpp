// SPDX-License-Identifier: MIT
// Parallel-port scenarios: discovery, pins and control lines, printing with the handshake and
// with interrupts.
#include <time.h>

#include <atomic>
#include <string>

#include "tests/scenarios/machine_scenarios.h"

namespace scenarios {

using ferrox::Byte;
using ferrox::TFerrox32;

namespace {

constexpr Byte FirstPortIrq = 7;
constexpr Byte DataPins[] = {2, 3, 4, 5, 6, 7, 8, 9};  // data bit 0 on pin 2
constexpr Byte StrobePin = 1;
constexpr Byte AutoFeedPin = 14;
constexpr Byte InitPin = 16;
constexpr Byte SelectInPin = 17;
// Each status read advances a printer's handshake by a step at most; a ready printer needs a few.
constexpr int BusyPolls = 10000;
// An interrupt reaches the process within this time, or it is lost.
constexpr long InterruptDeadlineUs = 2000000;
constexpr long InterruptPollUs = 100;

std::string line_to_print(const TFerrox32& component, const char* how) {
  return std::string("ferrox library lpt1 ") + how + " " + access_path(component) + " " + abi() + "\n";
}

// The printer idle and selected, as a printing program leaves it between bytes: init released,
// auto feed released, select in asserted (pin 17 low).
void select_printer(TFerrox32& component) {
  component.fSetPin(AutoFeedPin, true);
  component.fSetPin(SelectInPin, false);
  component.LPTInit();
}

bool wait_not_busy(TFerrox32& component) {
  for (int i = 0; i < BusyPolls; ++i)
    if (!component.fGetLPTBusy()) return true;
  return false;
}

// Puts the byte on the data pins once the printer is ready, and strobes it with LPTStrobe, or
// with a pulse of one write each way where each write to the control register counts (on some
// ports every write with the interrupt enabled interrupts again).
bool print_byte(TFerrox32& component, char byte, bool short_strobe = false) {
  if (!wait_not_busy(component)) return false;
  for (int bit = 0; bit < 8; ++bit) component.fSetPin(DataPins[bit], (byte >> bit) & 1);
  if (short_strobe) {
    component.fSetPin(StrobePin, false);
    component.fSetPin(StrobePin, true);
  } else {
    component.LPTStrobe();
  }
  return true;
}

// What the handler of the scenario's component sees. Lock-free atomics: the handler runs inside
// the signal handler.
struct InterruptTally {
  std::atomic<std::uint32_t> on_line{0};
  std::atomic<std::uint32_t> on_other_lines{0};
  void OnIrq(ferrox::Word Line) { (Line == FirstPortIrq ? on_line : on_other_lines).fetch_add(1); }
};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

// A printer's progress may be counted in the host's accesses to the port rather than in time (the
// virtual PC's is), so the wait looks at the status meanwhile, as a program watching for a stuck
// printer does.
bool wait_for_interrupts(TFerrox32& component, const InterruptTally& tally, std::uint32_t expected) {
  for (long waited = 0; tally.on_line.load() < expected; waited += InterruptPollUs) {
    if (waited >= InterruptDeadlineUs) return false;
    component.fGetLPTBusy();
    timespec pause{0, InterruptPollUs * 1000};
    nanosleep(&pause, nullptr);
  }
  return true;
}

}  // namespace

const char* access_path(const TFerrox32& component) { return component.HardAccess() ? "driver path" : "direct path"; }

void parallel_ports_from_firmware(TFerrox32& component, const MachineFacts& facts, Checks& checks) {
  constexpr std::uint32_t TableOffset = 8;  // three words from 0x408
  int listed = 0;
  for (int slot = 0; slot < ferrox::LptSlotCount; ++slot) {
    std::uint16_t base = static_cast<std::uint16_t>(facts.bios_data_area.at(TableOffset + 2 * slot) |
                                                    facts.bios_data_area.at(TableOffset + 2 * slot + 1) << 8);
    if (base != 0) SCENARIO_EQ(checks, component.LPTAddress(++listed), base);
  }
  SCENARIO_EQ(checks, component.LPTCount(), listed);
  SCENARIO_EQ(checks, component.LPTAddress(1), 0x378u);
  SCENARIO_EQ(checks, component.LPTBase(), 0x378u);
  SCENARIO_EQ(checks, component.LPTNumber(), 1u);
}

void parallel_port_pins(TFerrox32& component, Checks& checks) {
  component.fSetLPTNumber(1);
  select_printer(component);
  for (Byte pattern : {0x00, 0xFF, 0xA5, 0x5A}) {
    for (int bit = 0; bit < 8; ++bit) component.fSetPin(DataPins[bit], (pattern >> bit) & 1);
    Byte read = 0;
    for (int bit = 0; bit < 8; ++bit) read |= static_cast<Byte>(component.fGetPin(DataPins[bit]) << bit);
    SCENARIO_EQ(checks, read, pattern);
    SCENARIO_EQ(checks, component.fGetPortB(0x378), pattern);  // pin 2 is bit 0 of the data register
  }
  // The open-collector control lines other than strobe, which would print.
  for (Byte pin : {AutoFeedPin, InitPin, SelectInPin}) {
    for (bool level : {false, true}) {
      component.fSetPin(pin, level);
      SCENARIO_EQ(checks, component.fGetPin(pin), level);
    }
  }
  select_printer(component);
  SCENARIO_CHECK(checks, wait_not_busy(component));
  SCENARIO_CHECK(checks, !component.fGetLPTAckwl());
  SCENARIO_CHECK(checks, !component.fGetLPTPaperEnd());
  SCENARIO_CHECK(checks, !component.fGetLPTSlct());  // on line: the select line is high
  SCENARIO_CHECK(checks, !component.fGetLPTError());
}

std::string print_with_handshake(TFerrox32& component, Checks& checks) {
  std::string line = line_to_print(component, "handshake");
  component.fSetLPTNumber(1);
  select_printer(component);
  for (char byte : line)
    if (!SCENARIO_CHECK(checks, print_byte(component, byte))) break;
  SCENARIO_CHECK(checks, wait_not_busy(component));
  return line;
}

// Printing faster than interrupts are taken would let two acknowledges merge into one edge while
// the first waits for a processor: an interrupt-driven program sends the next byte only after the
// interrupt of the last one.
std::string print_on_interrupts(TFerrox32& component, Checks& checks) {
  std::string line = line_to_print(component, "interrupts");
  component.fSetLPTNumber(1);
  select_printer(component);
  component.fGetLPTBusy();  // leaves no acknowledge pending from earlier printing

  InterruptTally tally;
  component.SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&InterruptTally::OnIrq>(&tally));
  component.UnmaskInterrupt(FirstPortIrq);
  SCENARIO_CHECK(checks, !component.fGetMasked(FirstPortIrq));
  std::uint32_t handled_before = component.GetHandledCounter(FirstPortIrq);
  std::int32_t counted_before = component.InterruptCounter(FirstPortIrq);
  component.fSetLPTIrq(true);

  std::uint32_t printed = 0;
  for (char byte : line) {
    if (!SCENARIO_CHECK(checks, print_byte(component, byte, true))) break;
    if (!SCENARIO_CHECK(checks, wait_for_interrupts(component, tally, ++printed))) break;
  }
  SCENARIO_CHECK(checks, wait_not_busy(component));
  SCENARIO_EQ(checks, tally.on_line.load(), line.size());
  SCENARIO_EQ(checks, tally.on_other_lines.load(), 0u);
  SCENARIO_EQ(checks, component.GetHandledCounter(FirstPortIrq) - handled_before, line.size());
  SCENARIO_EQ(checks, static_cast<std::uint32_t>(component.InterruptCounter(FirstPortIrq) - counted_before),
              line.size());

  component.MaskInterrupt(FirstPortIrq);
  SCENARIO_CHECK(checks, component.fGetMasked(FirstPortIrq));
  component.fSetLPTIrq(false);
  component.fGetLPTBusy();
  component.SetOnHwInterrupt({});
  return line;
}

}  // namespace scenarios
