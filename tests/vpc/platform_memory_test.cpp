// SPDX-License-Identifier: MIT
// The virtual PC's physical address space: RAM, ROM, the BIOS data area and what is not there.
#include "tests/support/virtual_pc.h"

namespace {

class PhysicalMemoryTest : public VirtualPcTest {};

TEST_F(PhysicalMemoryTest, DefaultMachineMemoryMap) {
  ferrox::vpc::PhysicalMemory& memory = pc.memory();
  const std::uint16_t bios_words[] = {0x3F8, 0x2F8, 0, 0, 0x378, 0x278, 0};
  for (std::uint32_t i = 0; i < 7; ++i) EXPECT_EQ(memory.read16(0x400 + 2 * i), bios_words[i]) << i;
  EXPECT_EQ(memory.read32(0xFFFF1), 0xF000E05Bu);  // the BIOS ROM's reset jump target
  EXPECT_EQ(memory.read32(0xB8000), 0xFFFFFFFFu);  // nothing there

  std::size_t resident = memory.resident_pages();
  const std::uint8_t bytes[] = {1, 2, 3, 4};
  memory.write(0xFFFF1, bytes);   // ROM
  memory.write(0x7FFFFE, bytes);  // the last two bytes of RAM and two past it
  EXPECT_EQ(memory.read32(0xFFFF1), 0xF000E05Bu);
  EXPECT_EQ(memory.read32(0x7FFFFE), 0xFFFF0201u);
  EXPECT_EQ(memory.read32(0x500000), 0u);  // unwritten RAM costs no page
  EXPECT_EQ(memory.resident_pages(), resident + 1);

  ferrox::vpc::MachineDescription description;
  description.memory = {{{0, 0x1000}}, {}, {}};
  description.bios.lpt = {0x3BC, 0, 0};
  pc.reset(description);
  EXPECT_EQ(memory.read16(0x408), 0x3BCu);
  EXPECT_EQ(memory.read8(0x1000), 0xFFu);
  EXPECT_EQ(memory.read8(0xFFFF1), 0xFFu);
}

}  // namespace
