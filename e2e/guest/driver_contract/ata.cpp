// SPDX-License-Identifier: MIT
// IDENTIFY DEVICE on the primary ATA controller, without interrupts.
#include "ata.h"

namespace e2e::ata {
namespace {

constexpr std::uint16_t DataPort = 0x1F0;
constexpr std::uint16_t DrivePort = 0x1F6;
constexpr std::uint16_t CommandPort = 0x1F7;  // reads as the status
constexpr std::uint16_t ControlPort = 0x3F6;  // reads as the alternate status

constexpr std::uint8_t Busy = 0x80;
constexpr std::uint8_t DataRequest = 0x08;
constexpr std::uint8_t Error = 0x01;
constexpr std::uint8_t NoInterrupts = 0x02;  // device control nIEN
constexpr std::uint8_t Master = 0xA0;
constexpr std::uint8_t IdentifyDevice = 0xEC;

constexpr int StatusPolls = 100000;

std::uint8_t wait_not_busy(contract::PortPath& path) {
  std::uint8_t status = Busy;
  for (int i = 0; i < StatusPolls && (status & Busy); ++i) status = path.in8(CommandPort);
  return status;
}

}  // namespace

std::string Identity::model() const {
  std::string text;
  for (int i = 27; i <= 46; ++i) {
    text += static_cast<char>(words[i] >> 8);
    text += static_cast<char>(words[i] & 0xFF);
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

Identity identify_primary_master(contract::PortPath& path) {
  Identity identity;
  path.out8(ControlPort, NoInterrupts);
  path.out8(DrivePort, Master);
  for (int i = 0; i < 4; ++i) path.in8(ControlPort);  // the 400 ns a drive select needs
  path.out8(CommandPort, IdentifyDevice);

  std::uint8_t status = wait_not_busy(path);
  if ((status & Busy) || (status & Error) || !(status & DataRequest)) return identity;
  identity.answered = true;
  path.in16_block(DataPort, identity.words.data(), identity.words.size());
  identity.drained = !(path.in8(CommandPort) & DataRequest);
  return identity;
}

}  // namespace e2e::ata
