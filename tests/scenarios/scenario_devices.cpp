// SPDX-License-Identifier: MIT
// Scenarios of the devices behind ports, PCI configuration space and physical memory: the disk's
// identity as a FIFO block, the host bridge, and the firmware's memory.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/scenarios/machine_scenarios.h"

namespace scenarios {

using ferrox::Byte;
using ferrox::TFerrox32;
using ferrox::Word;

namespace {

// The primary ATA channel's registers.
constexpr Word AtaData = 0x1F0;
constexpr Word AtaDriveHead = 0x1F6;
constexpr Word AtaCommand = 0x1F7;  // reads as the status
constexpr Word AtaControl = 0x3F6;  // reads as the alternate status
constexpr Byte AtaBusy = 0x80;
constexpr Byte AtaDataRequest = 0x08;
constexpr Byte AtaError = 0x01;
constexpr Byte AtaNoInterrupt = 0x02;  // device control nIEN: the scenario polls
constexpr Byte AtaMaster = 0xA0;
constexpr Byte AtaIdentifyDevice = 0xEC;
constexpr int AtaStatusPolls = 100000;
constexpr unsigned ModelFirstWord = 27;
constexpr unsigned ModelWords = 20;

constexpr Word InterruptLineRegister = 0x3C;  // a plain read-write byte on every function
constexpr std::uint32_t ApplicationArea = 0x4F0;  // 16 bytes the BIOS leaves to programs
constexpr std::uint32_t LastParagraphSize = 16;  // the reset jump, the BIOS date and the model byte

Byte wait_not_busy(TFerrox32& component) {
  Byte status = AtaBusy;
  for (int i = 0; i < AtaStatusPolls && (status & AtaBusy); ++i) status = component.fGetPortB(AtaCommand);
  return status;
}

// Words 27..46 hold the model, two characters a word, the first in the high byte, space-padded.
std::string model_of(const Word* words) {
  std::string model;
  for (unsigned i = ModelFirstWord; i < ModelFirstWord + ModelWords; ++i) {
    model += static_cast<char>(words[i] >> 8);
    model += static_cast<char>(words[i] & 0xFF);
  }
  while (!model.empty() && model.back() == ' ') model.pop_back();
  return model;
}

}  // namespace

void ata_identify(TFerrox32& component, const MachineFacts& facts, Checks& checks) {
  component.fSetPortB(AtaControl, AtaNoInterrupt);
  component.fSetPortB(AtaDriveHead, AtaMaster);
  for (int i = 0; i < 4; ++i) component.fGetPortB(AtaControl);  // the 400 ns a drive select needs
  component.fSetPortB(AtaCommand, AtaIdentifyDevice);
  Byte status = wait_not_busy(component);
  if (!SCENARIO_CHECK(checks, !(status & (AtaBusy | AtaError)) && (status & AtaDataRequest))) return;

  Word words[256];
  std::memset(words, 0xEE, sizeof words);
  component.ReadPortWFIFO(AtaData, 256, words);
  SCENARIO_CHECK(checks, !(component.fGetPortB(AtaCommand) & AtaDataRequest));  // exactly 256 words waited
  SCENARIO_CHECK(checks, !(words[0] & 0x8000));  // an ATA device, not a packet device
  SCENARIO_CHECK(checks, model_of(words) == facts.disk_model);
}

void pci_host_bridge(TFerrox32& component, const MachineFacts& facts, Checks& checks) {
  ferrox::TPciCfg header;
  if (!SCENARIO_CHECK(checks, component.PciDeviceInfo(0, 0, 0, header))) return;
  SCENARIO_EQ(checks, header.VendorID, 0x8086u);
  SCENARIO_EQ(checks, header.DeviceID, 0x1237u);
  SCENARIO_EQ(checks, header.ClassCode, 0x06u);
  SCENARIO_EQ(checks, header.SubClass, 0x00u);
  static_assert(sizeof header == sizeof facts.host_bridge_header);
  SCENARIO_CHECK(checks, std::memcmp(&header, facts.host_bridge_header.data(), sizeof header) == 0);
  SCENARIO_EQ(checks, component.PciGetDword(0, 0, 0, 0), 0x12378086u);
  SCENARIO_EQ(checks, component.PciGetWord(0, 0, 0, 2), 0x1237u);
  SCENARIO_EQ(checks, component.PciGetByte(0, 0, 0, 0x0B), 0x06u);

  Byte original = component.PciGetByte(0, 0, 0, InterruptLineRegister);
  component.PciSetByte(0, 0, 0, InterruptLineRegister, 0x5A);
  SCENARIO_EQ(checks, component.PciGetByte(0, 0, 0, InterruptLineRegister), 0x5Au);
  component.PciSetWord(0, 0, 0, InterruptLineRegister, 0x0077);
  SCENARIO_EQ(checks, component.PciGetByte(0, 0, 0, InterruptLineRegister), 0x77u);
  component.PciSetByte(0, 0, 0, InterruptLineRegister, original);
  SCENARIO_EQ(checks, component.PciGetByte(0, 0, 0, InterruptLineRegister), original);
}

void bios_memory(TFerrox32& component, const MachineFacts& facts, Checks& checks) {
  SCENARIO_CHECK(checks, component.fMapPhysToLinear(BiosDataArea, BiosDataAreaSize) != 0);
  bool same = true;
  for (std::uint32_t i = 0; i < BiosDataAreaSize; ++i) same &= component.fGetMemB(BiosDataArea, i) == facts.bios_data_area.at(i);
  SCENARIO_CHECK(checks, same);
  SCENARIO_EQ(checks, component.fGetMemW(BiosDataArea, 4), 0x378u);  // the first parallel port at 0x408
  SCENARIO_EQ(checks, component.fGetMemL(BiosDataArea, 2),
              facts.bios_data_area[8] | facts.bios_data_area[9] << 8 | facts.bios_data_area[10] << 16 |
                  std::uint32_t{facts.bios_data_area[11]} << 24);

  // A block's window reaches one byte past the block, and the byte past the ROM is RAM, which no
  // window may cover: the block stops short of the last paragraph, read value by value instead.
  std::vector<std::uint8_t> rom(BiosRomSize - LastParagraphSize, 0);
  component.ReadPhysicalMemory(BiosRom, 0, static_cast<std::uint32_t>(rom.size()), rom.data());
  SCENARIO_CHECK(checks, std::equal(rom.begin(), rom.end(), facts.bios_rom.begin()));
  SCENARIO_EQ(checks, component.MappedPhys(), BiosRom);
  // A value's window spans at least 256 bytes, so the one for the last paragraph starts 256 bytes
  // below the end of the ROM.
  constexpr std::uint32_t LastPage = BiosRom + BiosRomSize - 0x100;
  constexpr std::uint32_t FirstIndex = (0x100 - LastParagraphSize) / 4;
  for (std::uint32_t i = 0; i < LastParagraphSize / 4; ++i) {
    std::uint32_t at = BiosRomSize - LastParagraphSize + 4 * i;
    SCENARIO_EQ(checks, component.fGetMemL(LastPage, FirstIndex + i),
                facts.bios_rom[at] | facts.bios_rom[at + 1] << 8 | facts.bios_rom[at + 2] << 16 |
                    std::uint32_t{facts.bios_rom[at + 3]} << 24);
  }

  std::uint8_t saved[16];
  std::uint8_t pattern[16];
  for (int i = 0; i < 16; ++i) pattern[i] = static_cast<std::uint8_t>(0xC0 + i);
  component.ReadPhysicalMemory(ApplicationArea, 0, 16, saved);
  component.WritePhysicalMemory(ApplicationArea, 0, 16, pattern);
  std::uint8_t back[16] = {};
  component.ReadPhysicalMemory(ApplicationArea, 0, 16, back);
  SCENARIO_CHECK(checks, std::memcmp(back, pattern, 16) == 0);
  component.WritePhysicalMemory(ApplicationArea, 0, 16, saved);
  SCENARIO_EQ(checks, component.fGetMemB(ApplicationArea, 3), saved[3]);
  component.fUnmapMemory();
  SCENARIO_CHECK(checks, !component.Mapped());
}

}  // namespace scenarios
