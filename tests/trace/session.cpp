// SPDX-License-Identifier: MIT
// The recorded session.
#include "tests/trace/session.h"

#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace session {

namespace {

using ferrox::Byte;
using ferrox::TFerrox32;
using ferrox::Word;

constexpr Byte PrinterIrq = 7, StrobePin = 1;
constexpr Word PrinterData = 0x378;
constexpr Word AtaData = 0x1F0, AtaDriveHead = 0x1F6, AtaStatusCommand = 0x1F7, AtaControl = 0x3F6;
constexpr Byte AtaMaster = 0xA0, AtaIdentifyDevice = 0xEC, AtaNoInterrupt = 0x02;
constexpr Byte AtaBusy = 0x80, AtaDataRequest = 0x08, AtaError = 0x01;
constexpr int Polls = 10000;
constexpr long InterruptDeadlineUs = 2000000, InterruptPollUs = 100;

void pause_us(long microseconds) {
  timespec pause{microseconds / 1000000, microseconds % 1000000 * 1000};
  nanosleep(&pause, nullptr);
}

bool pci_walk(TFerrox32& component) {
  int found = 0;
  for (Word device = 0; device < 32; ++device) {
    ferrox::TPciCfg header{};
    if (!component.PciDeviceInfo(0, device, 0, header)) continue;
    std::uint32_t class_revision = component.PciGetDword(0, device, 0, 0x08);
    std::printf("pci 00:%02x.0 %04x:%04x class %06x\n", device, header.VendorID, header.DeviceID, class_revision >> 8);
    ++found;
  }
  return found > 0;
}

bool bios_data_area(TFerrox32& component) {
  Byte bytes[16] = {};
  component.ReadPhysicalMemory(0x400, 0, sizeof bytes, bytes);
  std::printf("bios data area: first parallel port %#x\n", bytes[8] | bytes[9] << 8);
  return (bytes[8] | bytes[9] << 8) == PrinterData;
}

bool ata_identify(TFerrox32& component, int extra_polls) {
  component.fSetPortB(AtaControl, AtaNoInterrupt);
  component.fSetPortB(AtaDriveHead, AtaMaster);
  component.fSetPortB(AtaStatusCommand, AtaIdentifyDevice);
  Byte status = AtaBusy;
  for (int i = 0; i < Polls && (status & AtaBusy); ++i) status = component.fGetPortB(AtaStatusCommand);
  if ((status & (AtaBusy | AtaError)) || !(status & AtaDataRequest)) return false;
  for (int i = 0; i < extra_polls; ++i) component.fGetPortB(AtaStatusCommand);
  std::string model;
  for (int word = 0; word < 256; ++word) {
    Word value = component.fGetPortW(AtaData);
    if (word >= 27 && word < 47) model += {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
  }
  std::printf("ata primary master: %s\n", model.substr(0, model.find_last_not_of(' ') + 1).c_str());
  return true;
}

struct Interrupts {
  std::atomic<std::uint32_t> taken{0};
  void OnIrq(Word) { taken.fetch_add(1); }
};

bool wait_not_busy(TFerrox32& component) {
  for (int i = 0; i < Polls; ++i)
    if (!component.fGetLPTBusy()) return true;
  return false;
}

// A printer may count its progress in accesses to the port rather than in time (the virtual PC's
// does), so the wait reads the status meanwhile.
bool wait_for_interrupt(TFerrox32& component, const Interrupts& interrupts, std::uint32_t expected) {
  for (long waited = 0; interrupts.taken.load() < expected; waited += InterruptPollUs) {
    if (waited >= InterruptDeadlineUs) return false;
    component.fGetLPTBusy();
    pause_us(InterruptPollUs);
  }
  return true;
}

bool print_on_interrupts(TFerrox32& component, std::string line) {
  Interrupts interrupts;
  component.fSetLPTNumber(1);
  component.LPTInit();
  component.SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&Interrupts::OnIrq>(&interrupts));
  component.UnmaskInterrupt(PrinterIrq);
  component.fSetLPTIrq(true);
  bool printed = true;
  for (std::uint32_t count = 1; printed && count <= line.size(); ++count) {
    printed = wait_not_busy(component);
    component.fSetPortB(PrinterData, static_cast<Byte>(line[count - 1]));
    component.fSetPin(StrobePin, false);  // a pulse of one write each way
    component.fSetPin(StrobePin, true);
    printed = printed && wait_for_interrupt(component, interrupts, count);
  }
  component.MaskInterrupt(PrinterIrq);
  component.fSetLPTIrq(false);
  component.fGetLPTBusy();  // reading the status drops an acknowledge the port still holds
  component.SetOnHwInterrupt({});
  std::printf("printed %zu bytes on interrupts\n", line.size());
  return printed;
}

}  // namespace

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--changed") options.changed = true;
    if (argument == "--pause" && i + 1 < argc) options.pause_ms = std::atoi(argv[++i]);
    if (argument == "--extra-polls" && i + 1 < argc) options.extra_polls = std::atoi(argv[++i]);
  }
  return options;
}

bool run(TFerrox32& component, const Options& options) {
  std::string line = PrintedLine;
  if (options.changed) line[1] = 'E';
  bool ok = pci_walk(component);
  pause_us(options.pause_ms * 1000L);
  ok = bios_data_area(component) && ok;
  ok = ata_identify(component, options.extra_polls) && ok;
  ok = print_on_interrupts(component, line) && ok;
  return ok;
}

}  // namespace session
