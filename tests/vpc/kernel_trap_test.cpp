// SPDX-License-Identifier: MIT
// The virtual PC's trap: decoding port instructions, carrying them out as the processor does,
// and leaving every other fault alone.
#include <setjmp.h>
#include <signal.h>
#include <sys/io.h>
#include <sys/mman.h>

#include <vector>

#include "ferrox/component/PortIo.h"
#include "ferrox/vpc/kernel/port_trap.h"
#include "tests/support/ports_fixture.h"

using ferrox::vpc::PortInstruction;
using Kind = ferrox::vpc::PortInstruction::Kind;

namespace {

std::optional<PortInstruction> decode(std::vector<std::uint8_t> code) {
  return ferrox::vpc::decode_port_instruction(code.data());
}

TEST(PortInstructionDecoder, ReadsOpcodesAndPrefixes) {
  constexpr unsigned Address = sizeof(void*) * 8;
  struct Case {
    std::vector<std::uint8_t> code;
    Kind kind;
    unsigned width;
    bool port_in_dx, repeated;
    unsigned address_bits, length;
  } cases[] = {
      {{0xEC}, Kind::In, 1, true, false, Address, 1},
      {{0x66, 0xED}, Kind::In, 2, true, false, Address, 2},
      {{0xF3, 0xEF}, Kind::Out, 4, true, false, Address, 2},  // a repeat prefix means nothing to OUT
      {{0x66, 0xE7, 0x70}, Kind::Out, 2, false, false, Address, 3},
      {{0x2E, 0xF3, 0x66, 0x6D}, Kind::Ins, 2, true, true, Address, 4},
      {{0xF2, 0x6E}, Kind::Outs, 1, true, true, Address, 2},
      {{0x64, 0x6C}, Kind::Ins, 1, true, false, Address, 2},  // INS always stores through ES
      {{0x67, 0xF3, 0x6F}, Kind::Outs, 4, true, true, Address / 2, 3},
  };
  for (const Case& expected : cases) {
    std::optional<PortInstruction> decoded = decode(expected.code);
    ASSERT_TRUE(decoded) << expected.length;
    EXPECT_EQ(decoded->kind, expected.kind);
    EXPECT_EQ(decoded->width, expected.width);
    EXPECT_EQ(decoded->port_in_dx, expected.port_in_dx);
    EXPECT_EQ(decoded->repeated, expected.repeated);
    EXPECT_EQ(decoded->address_bits, expected.address_bits);
    EXPECT_EQ(decoded->length, expected.length);
  }
  EXPECT_EQ(decode({0xE4, 0x80})->immediate, 0x80);
#if defined(__x86_64__)
  EXPECT_EQ(decode({0x41, 0xEC})->length, 2u);
  EXPECT_FALSE(decode({0x48, 0xED}));
#else
  EXPECT_FALSE(decode({0x41, 0xEC}));  // INC ECX
#endif
  for (std::vector<std::uint8_t> declined : {std::vector<std::uint8_t>{0xF0, 0xEC}, {0x65, 0x6E}, {0xF4}, {0x0F, 0x0B}})
    EXPECT_FALSE(decode(declined));
  std::vector<std::uint8_t> too_long(16, 0x66);  // 14 prefixes leave no room for the port
  too_long[14] = 0xE4;
  EXPECT_FALSE(decode(too_long));
}

class TrapTest : public PortsTest {
 protected:
  void SetUp() override {
    PortsTest::SetUp();
    ASSERT_EQ(ioperm(0x378, 8, 1), 0);
    ASSERT_EQ(ioperm(0x80, 1, 1), 0);
    ASSERT_EQ(ioperm(0x300, 4, 1), 0);
  }
};

using Register = std::uintptr_t;
constexpr Register Garbage = static_cast<Register>(0xA5A5A5A5A5A5A5A5ull);

TEST_F(TrapTest, InputKeepsOrClearsTheUpperAccumulatorAsTheProcessorDoes) {
  Register value = Garbage;
  asm volatile("inb %%dx, %%al" : "+a"(value) : "d"(0x37A));
  EXPECT_EQ(value, (Garbage & ~Register{0xFF}) | 0x63);
  value = Garbage;
  asm volatile("inw %%dx, %%ax" : "+a"(value) : "d"(0x37A));
  EXPECT_EQ(value, (Garbage & ~Register{0xFFFF}) | 0xBB63);
  value = Garbage;
  asm volatile("inl %%dx, %%eax" : "+a"(value) : "d"(0x37A));
  EXPECT_EQ(value, Register{0x99AABB63});  // a 32-bit result zero-extends
  value = Garbage;
  asm volatile("outw %%ax, %%dx" : : "a"(value), "d"(0x37C));
  EXPECT_EQ(scratch.at(0x37C), 0xA5A5u);
  asm volatile("outb %%al, $0x80\n\tinb $0x80, %%al" : "+a"(value));
  EXPECT_EQ(pc.log().of(ferrox::vpc::Event::PortOut).back().port, 0x80u);
}

TEST_F(TrapTest, StringFormsHonourTheDirectionFlagAndTheCount) {
  std::uint8_t buffer[6] = {};
  void* destination = &buffer[3];
  Register count = 4;
  asm volatile("std\n\trep insb\n\tcld" : "+D"(destination), "+c"(count) : "d"(0x300) : "memory", "cc");
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(destination, reinterpret_cast<void*>(reinterpret_cast<Register>(buffer) - 1));
  EXPECT_EQ(buffer[3], ferrox::vpc::FifoDevice::sequence(0));
  EXPECT_EQ(buffer[0], ferrox::vpc::FifoDevice::sequence(3));
  // Without a repeat prefix: one element, the count left alone.
  const void* source = buffer;
  count = 7;
  asm volatile("outsw" : "+S"(source), "+c"(count) : "d"(0x300) : "memory");
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(source, static_cast<const void*>(&buffer[2]));
  EXPECT_EQ(pc.fifo().written(), (std::vector<std::uint8_t>{buffer[0], buffer[1]}));
}

#if defined(__x86_64__)
TEST_F(TrapTest, AddressSizePrefixNarrowsTheIndexAndCountRegisters) {
  void* low = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  ASSERT_NE(low, MAP_FAILED);
  Register destination = reinterpret_cast<Register>(low) | 0xDEAD000000000000ull;
  Register count = 0xFFFFFFFF00000003ull;
  asm volatile("addr32 rep insb" : "+D"(destination), "+c"(count) : "d"(0x300) : "memory");
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(destination, reinterpret_cast<Register>(low) + 3);
  EXPECT_EQ(static_cast<std::uint8_t*>(low)[2], ferrox::vpc::FifoDevice::sequence(2));
  munmap(low, 4096);
}
#endif

// Each in a forked child that makes the machine its own, holding the ports the test holds (a
// child's port instructions on its parent's machine all fault).
void held_in_child(bool latch) {
  ferrox::vpc::Machine::instance().reset();
  if (latch) ioperm(0x378, 8, 1);
  ioperm(0x80, 1, 1);
  ioperm(0x300, 4, 1);
}

TEST_F(TrapTest, PortsNotHeldFaultForReal) {
  EXPECT_EXIT((held_in_child(true), ferrox::detail::InB(0x2F8)), testing::KilledBySignal(SIGSEGV), "");
  // its second port is not held
  EXPECT_EXIT((held_in_child(true), ferrox::detail::InW(0x37F)), testing::KilledBySignal(SIGSEGV), "");
  ASSERT_EQ(ioperm(0x378, 8, 0), 0);
  EXPECT_EXIT((held_in_child(false), ferrox::detail::OutB(0x378, 0)), testing::KilledBySignal(SIGSEGV), "");
}

sigjmp_buf recovery;
void recover(int) { siglongjmp(recovery, 1); }

TEST_F(TrapTest, OtherFaultsReachTheHandlerInstalledBefore) {
  // A privileged instruction that is no port instruction: a protection fault (SIGILL under valgrind).
  struct sigaction own {}, before[2] {};
  own.sa_handler = recover;
  sigaction(SIGSEGV, &own, &before[0]);
  sigaction(SIGILL, &own, &before[1]);
  ASSERT_EQ(ioperm(0x379, 1, 1), 0);  // arms the trap over the test's own handlers
  bool recovered = sigsetjmp(recovery, 1) != 0;
  if (!recovered) asm volatile("hlt");
  EXPECT_TRUE(recovered);
  EXPECT_EQ(ferrox::detail::InB(0x379), 0x52);  // and the trap stayed in place
  sigaction(SIGSEGV, &before[0], nullptr);
  sigaction(SIGILL, &before[1], nullptr);
}

// A handler the program installs for SIGSEGV once the trap is in place goes behind it, as on
// hardware, where a port instruction with the privilege never faults: the accesses go on working,
// the program reads its own handler back, and faults that are not port instructions still reach it.
TEST_F(TrapTest, AHandlerInstalledAfterTheFirstAccessLeavesTheAccessesWorking) {
  EXPECT_EQ(ferrox::detail::InB(0x37A), 0x63);
  struct sigaction own {}, before {}, read_back {};
  own.sa_handler = recover;
  sigemptyset(&own.sa_mask);
  ASSERT_EQ(sigaction(SIGSEGV, &own, &before), 0);
  bool recovered = sigsetjmp(recovery, 1) != 0;
  if (!recovered) {
    EXPECT_EQ(ferrox::detail::InB(0x37A), 0x63);
  }
  EXPECT_FALSE(recovered) << "the program's handler was entered for a port instruction";
  sigaction(SIGSEGV, nullptr, &read_back);
  EXPECT_EQ(read_back.sa_handler, recover);
  recovered = sigsetjmp(recovery, 1) != 0;
  if (!recovered) asm volatile("hlt");
  EXPECT_TRUE(recovered);
  sigaction(SIGSEGV, &before, nullptr);
}

}  // namespace
