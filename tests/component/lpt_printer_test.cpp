// SPDX-License-Identifier: MIT
// Printing on the virtual printer through the component: data pins, strobe and the busy line,
// the printer's condition lines, and the acknowledge interrupt.
#include <string>
#include <string_view>

#include "tests/support/lpt_fixture.h"

using ferrox::Byte;

namespace {

constexpr std::string_view Line = "The quick brown fox jumps over the lazy dog. 0123456789 ~!\r\n";

// A printer's settings with one condition set.
ferrox::vpc::PrinterSettings with(bool ferrox::vpc::PrinterSettings::*condition) {
  ferrox::vpc::PrinterSettings settings;
  settings.*condition = true;
  return settings;
}

class PrinterTest : public LptPathTest {
 protected:
  // A printer on the first port, selected so that the write shadows hold what the port holds.
  void open_with_printer(ferrox::vpc::PrinterSettings settings = {}) {
    open_on(with_plug(ferrox::vpc::ParallelPlug::Printer, settings));
    component->fSetLPTNumber(1);
  }
  ferrox::vpc::Printer& printer() { return *pc.parallel_ports().printer(0x378); }

  // Prints as a careful host does: waits while the printer is busy, puts the byte on the data
  // pins and pulses strobe. False when the printer stays busy.
  bool print(std::string_view text, bool wait_while_busy = true) {
    for (char character : text) {
      for (int polls = 0; wait_while_busy && component->fGetLPTBusy(); ++polls)
        if (polls == 10000) return false;
      for (Byte bit = 0; bit < 8; ++bit) component->fSetPin(static_cast<Byte>(2 + bit), (character >> bit) & 1);
      component->LPTStrobe();
    }
    return true;
  }
};

TEST_P(PrinterTest, APrintedLineArrivesIntact) {
  open_with_printer();
  EXPECT_FALSE(component->fGetLPTBusy());
  ASSERT_TRUE(print(Line));
  EXPECT_EQ(printer().received_text(), Line);
  EXPECT_EQ(printer().missed_strobes(), 0u);
}

// This printer takes longer over a byte than a strobe lasts: only waiting on busy keeps the bytes.
TEST_P(PrinterTest, ASlowPrinterIsWaitedForThroughBusy) {
  ferrox::vpc::PrinterSettings slow;
  slow.busy_steps = 5000;  // five strobes' worth of port accesses
  open_with_printer(slow);
  ASSERT_TRUE(print("slow"));
  EXPECT_EQ(printer().received_text(), "slow");
  EXPECT_EQ(printer().missed_strobes(), 0u);

  print("lost", false);
  EXPECT_EQ(printer().received_text(), "slow");
  EXPECT_EQ(printer().missed_strobes(), 4u);
}

TEST_P(PrinterTest, ConditionLinesReportPaperSelectAndError) {
  open_with_printer();
  EXPECT_FALSE(component->fGetLPTPaperEnd() || component->fGetLPTSlct() || component->fGetLPTError());
  printer().configure(with(&ferrox::vpc::PrinterSettings::paper_end));
  EXPECT_TRUE(component->fGetLPTPaperEnd());
  EXPECT_TRUE(component->fGetLPTBusy());
  printer().configure(with(&ferrox::vpc::PrinterSettings::offline));
  EXPECT_TRUE(component->fGetLPTSlct()) << "the select line is low";
  printer().configure(with(&ferrox::vpc::PrinterSettings::error));
  EXPECT_TRUE(component->fGetLPTError());
  EXPECT_TRUE(component->fGetLPTBusy()) << "a printer in error stays busy";
  print("x", false);
  EXPECT_TRUE(printer().received().empty());
  EXPECT_EQ(printer().missed_strobes(), 1u);
}

// What an interrupt handler for the port does: count, and read the status register, here in the
// middle of the strobe that caused the interrupt.
struct StatusReader {
  ferrox::TFerrox32* component = nullptr;
  volatile sig_atomic_t calls = 0;
  volatile sig_atomic_t status = -1;
  void OnIrq(ferrox::Word) {
    calls = calls + 1;
    status = component->fGetPortB(0x379);
  }
};

TEST_P(PrinterTest, EachByteInterruptsOnceOnLineSevenAndTheHandlerMayReadThePort) {
  open_with_printer();
  StatusReader reader{component.get()};
  component->SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&StatusReader::OnIrq>(&reader));
  component->UnmaskInterrupt(7);
  component->fSetLPTIrq(true);
  ASSERT_TRUE(print(Line));
  EXPECT_EQ(reader.calls, static_cast<int>(Line.size()));
  EXPECT_EQ(reader.status, 0xDF) << "acknowledged and ready again";
  EXPECT_EQ(component->GetHandledCounter(7), Line.size());
  EXPECT_EQ(component->InterruptCounter(7), static_cast<std::int32_t>(Line.size()));
  EXPECT_EQ(printer().received_text(), Line);
  component->MaskInterrupt(7);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, PrinterTest, ::testing::Bool(), access_path_name);

}  // namespace
