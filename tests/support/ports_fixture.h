// SPDX-License-Identifier: MIT
// Fixture for the port tests: components on a fresh virtual PC, with scratch registers at the
// parallel-port addresses 0x378..0x37F so that every value read there is known.
#pragma once

#include <memory>

#include "ferrox/component/Ferrox32.h"
#include "tests/support/component.h"
#include "tests/support/virtual_pc.h"

// Registers that read back what was last written to them, each reset to a distinct pattern.
class ScratchRegisters final : public ferrox::vpc::PortDevice {
 public:
  static constexpr std::uint16_t Base = 0x378, Length = 8;
  std::uint32_t read(std::uint16_t offset, unsigned) override { return registers_[offset]; }
  void write(std::uint16_t offset, unsigned, std::uint32_t value) override { registers_[offset] = value; }
  std::uint32_t at(std::uint16_t port) const { return registers_[port - Base]; }

 private:
  std::uint32_t registers_[Length] = {0x11223341, 0x55667752, 0x99AABB63, 0xDDEEFF74,
                                      0x12345685, 0x9ABCDE96, 0x0F1E2DA7, 0x3C4B5AB8};
};

class PortsTest : public VirtualPcTest {
 protected:
  void SetUp() override { use_machine(ferrox::vpc::default_machine()); }

  void use_machine(const ferrox::vpc::MachineDescription& description) {
    pc.reset(description);
    pc.ports().attach(ScratchRegisters::Base, ScratchRegisters::Length, scratch);
  }
  // A machine whose kernel refuses raising the level, granting ports, or both (0 grants).
  void refuse(int iopl_error, int ioperm_error) {
    ferrox::vpc::MachineDescription description = ferrox::vpc::default_machine();
    description.privilege = {iopl_error, ioperm_error};
    use_machine(description);
  }
  std::size_t logged(ferrox::vpc::Event event) const { return pc.log().of(event).size(); }
  const ferrox::Byte* permissions(const ferrox::TFerrox32& component) const {
    return static_cast<const ferrox::Byte*>(component.GetDebugCode());
  }

  ScratchRegisters scratch;
};
