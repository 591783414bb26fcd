// SPDX-License-Identifier: MIT
// A fixed disk on the primary ATA channel, as the master drive, with the PIO commands a program
// uses to learn what the drive is:
//
//   command block (0x1F0..0x1F7)
//   +0 data        16-bit: the next word of the sector buffer while data is requested
//   +1 error       read: why the last command failed (abort); write: features, not looked at
//   +2..+5         sector count and address: kept and read back
//   +6 drive/head  bit 4 selects the slave, which is not there
//   +7 status      read: the drive's state (and quiets its interrupt); write: a command
//   control block (0x3F6)
//   +0 read: the alternate status (leaves the interrupt alone); write: device control, where
//      nIEN keeps the interrupt line quiet and SRST holds the drive in reset
//
// IDENTIFY DEVICE (0xEC) fills the buffer with 256 words describing the drive and requests data;
// once the host has read all 256 words the request ends. Any other command is aborted. Each
// finished command interrupts on the channel's line unless nIEN is set.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "ferrox/hwtypes/PcHardware.h"
#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/platform/port_bus.h"

namespace ferrox::vpc {

class VPC_API AtaDisk final : public PortDevice {
 public:
  static constexpr std::uint16_t CommandPortCount = ata::CommandBlockLength;
  static constexpr std::uint16_t ControlPortCount = 1;
  static constexpr unsigned IdentifyWords = 256;

  // `interrupt` raises the channel's IRQ line once.
  AtaDisk(std::string model, std::uint32_t sectors, std::function<void()> interrupt);

  // The command block.
  std::uint32_t read(std::uint16_t offset, unsigned width) override;
  void write(std::uint16_t offset, unsigned width, std::uint32_t value) override;
  // The control block, attached on its own port.
  PortDevice& control_block() { return control_; }

  // The state after power-on or a reset: ready, nothing requested.
  void reset();

  // What IDENTIFY DEVICE answers.
  std::array<std::uint16_t, IdentifyWords> identity() const;

 private:
  using enum ata::Register;
  using enum ata::StatusBit;

  enum ControlBit : std::uint8_t {
    NoInterrupt = 0x02,  // nIEN: the drive keeps its interrupt line quiet
    SoftReset = 0x04,    // SRST: held in reset while set
  };

  static constexpr std::uint8_t SlaveBit = 0x10;
  static constexpr std::uint8_t Aborted = 0x04;  // error register: the command was refused

  class ControlBlock final : public PortDevice {
   public:
    explicit ControlBlock(AtaDisk& disk) : disk_(disk) {}
    std::uint32_t read(std::uint16_t offset, unsigned width) override;
    void write(std::uint16_t offset, unsigned width, std::uint32_t value) override;

   private:
    AtaDisk& disk_;
  };

  struct State {
    std::array<std::uint8_t, 8> registers{};  // the command block as last written
    std::uint8_t status = DriveReady | SeekComplete;
    std::uint8_t error = 0;
    std::uint8_t control = 0;
    std::array<std::uint16_t, IdentifyWords> buffer{};
    unsigned next_word = IdentifyWords;  // IdentifyWords: nothing to transfer
    bool interrupt_pending = false;
    bool line_high = false;  // the level last driven onto the IRQ line
  };

  bool slave_selected() const { return state_.registers[DriveHead] & SlaveBit; }
  std::uint8_t status() const;
  void run_command(std::uint8_t command);
  std::uint16_t next_data_word();
  void finish_command(std::uint8_t status);
  void update_irq();

  std::string model_;
  std::uint32_t sectors_;
  std::function<void()> interrupt_;
  ControlBlock control_{*this};
  State state_;
};

}  // namespace ferrox::vpc
