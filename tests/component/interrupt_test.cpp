// SPDX-License-Identifier: MIT
// Unmasking and masking IRQ lines, the counters, and the handler of signal 44.
#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/vpc/kernel/signal_delivery.h"
#include "tests/support/heap.h"
#include "tests/support/irq_recorder.h"
#include "tests/support/component.h"
#include "tests/support/virtual_pc.h"

using ferrox::Byte;
using ferrox::TFerrox32;
using ferrox::TIrqRequest;
using ferrox::vpc::Event;

namespace {

Component open_component() {
  Component component = make_component();
  component->OpenDriver();
  ferrox::vpc::Machine::instance().log().clear();  // parallel-port discovery is not under test here
  return component;
}

class InterruptTest : public VirtualPcTest {
 protected:
  // The cookie the component gave the driver in its last unmask request.
  std::uint32_t last_cookie() {
    auto requests = pc.log().requests();
    for (auto entry = requests.rbegin(); entry != requests.rend(); ++entry)
      if (entry->code == ferrox::Request::IrqUnmask) return entry->sent_as<TIrqRequest>().Component;
    ADD_FAILURE() << "no unmask request";
    return 0;
  }

  // A signal 44 as the driver sends it, to the process.
  static void signal_44(std::uint32_t cookie, std::int32_t line) {
    ferrox::vpc::send_driver_signal(ferrox::InterruptSignal, static_cast<std::int32_t>(cookie), line);
  }
};

// Runs Step one instruction at a time (the processor's trap flag), and before each instruction
// sends signal 44 as the driver would, so the handler of signal 44 sees every state Step passes
// through. Returns how many instructions were stepped.
namespace single_step {

std::uint32_t cookie;
std::int32_t line;
volatile sig_atomic_t traps;

void OnTrap(int) {
  traps = traps + 1;
  ferrox::vpc::send_driver_signal(ferrox::InterruptSignal, static_cast<std::int32_t>(cookie), line);
}

// The trap flag is bit 8 of the flags register. The stack pointer moves past the red zone first,
// where the compiler may keep values across the asm.
inline void SetTrapFlag() {
#if defined(__x86_64__)
  asm volatile("sub $128, %%rsp\n\tpushf\n\torl $0x100, (%%rsp)\n\tpopf\n\tadd $128, %%rsp" ::: "memory", "cc");
#else
  asm volatile("pushf\n\torl $0x100, (%%esp)\n\tpopf" ::: "memory", "cc");
#endif
}

inline void ClearTrapFlag() {
#if defined(__x86_64__)
  asm volatile("sub $128, %%rsp\n\tpushf\n\tandl $~0x100, (%%rsp)\n\tpopf\n\tadd $128, %%rsp" ::: "memory", "cc");
#else
  asm volatile("pushf\n\tandl $~0x100, (%%esp)\n\tpopf" ::: "memory", "cc");
#endif
}

template <class Step>
int Run(std::uint32_t signal_cookie, std::int32_t signal_line, Step step) {
  cookie = signal_cookie;
  line = signal_line;
  traps = 0;
  ferrox::vpc::kernel_delivers_signals();  // decided before stepping starts
  struct sigaction action {}, saved {};
  action.sa_handler = OnTrap;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTRAP, &action, &saved);
  SetTrapFlag();
  step();
  ClearTrapFlag();
  sigaction(SIGTRAP, &saved, nullptr);
  return traps;
}

}  // namespace single_step

void expect_irq_request(const ferrox::vpc::LogEntry& entry, std::uint32_t code, unsigned line) {
  EXPECT_EQ(entry.code, code);
  auto request = entry.sent_as<TIrqRequest>();
  EXPECT_EQ(request.ProcessId, getpid());
  EXPECT_EQ(request.SignalNumber, 44);
  EXPECT_EQ(request.Irq, line);
}

TEST_F(InterruptTest, UnmaskWithAHandlerAsksTheDriverOnceAndStartsCountingAfresh) {
  Component component = open_component();
  IrqRecorder recorder;
  component->SetOnHwInterrupt(recorder.handler());
  component->UnmaskInterrupt(7);
  pc.irqs().raise(7);
  pc.irqs().raise(7);
  EXPECT_EQ(component->GetHandledCounter(7), 2u);
  EXPECT_EQ(recorder.last_irq, 7);

  component->MaskInterrupt(7);
  EXPECT_EQ(component->GetHandledCounter(7), 2u) << "masking keeps the count";
  EXPECT_TRUE(component->fGetMasked(7));
  pc.irqs().raise(7);
  EXPECT_EQ(component->GetHandledCounter(7), 2u) << "the driver stopped the line";

  pc.log().clear();
  component->UnmaskInterrupt(7);
  auto requests = pc.log().requests();
  ASSERT_EQ(requests.size(), 1u);
  expect_irq_request(requests[0], ferrox::Request::IrqUnmask, 7);
  if constexpr (sizeof(void*) == 4) {
    EXPECT_EQ(last_cookie(), reinterpret_cast<std::uintptr_t>(component.get()));
  } else {
    EXPECT_NE(last_cookie(), 0u);
  }
  EXPECT_EQ(component->GetHandledCounter(7), 0u);
  EXPECT_FALSE(component->fGetMasked(7));
  ASSERT_EQ(pc.irqs().listeners().size(), 1u);
  EXPECT_EQ(pc.irqs().listeners()[0].signals, 0u) << "a new registration";
}

TEST_F(InterruptTest, UnmaskWithoutAHandlerOnlyMarksTheLine) {
  Component component = open_component();
  component->UnmaskInterrupt(3);
  EXPECT_FALSE(component->fGetMasked(3));
  EXPECT_TRUE(pc.log().requests().empty());

  IrqRecorder recorder;
  component->SetOnHwInterrupt(recorder.handler());
  component->UnmaskInterrupt(3);
  EXPECT_TRUE(pc.log().requests().empty()) << "the line counts as unmasked already";

  component->MaskInterrupt(3);
  auto requests = pc.log().requests();
  ASSERT_EQ(requests.size(), 1u);
  expect_irq_request(requests[0], ferrox::Request::IrqMask, 3);
  component->MaskInterrupt(3);
  EXPECT_EQ(pc.log().requests().size(), 1u) << "a masked line is not masked again";
}

TEST_F(InterruptTest, ASignalCountsOnlyItsLineInTheComponentItNamesEvenAfterMasking) {
  Component first = open_component();
  Component second = open_component();
  IrqRecorder first_calls, second_calls;
  first->SetOnHwInterrupt(first_calls.handler());
  second->SetOnHwInterrupt(second_calls.handler());
  first->UnmaskInterrupt(7);
  std::uint32_t first_cookie = last_cookie();
  second->UnmaskInterrupt(7);

  signal_44(first_cookie, 7);
  first->MaskInterrupt(7);
  signal_44(first_cookie, 7);  // queued before the mask reached the driver

  for (Byte line = 0; line < ferrox::IrqLineCount; ++line)
    EXPECT_EQ(first->GetHandledCounter(line), line == 7 ? 2u : 0u) << "line " << int(line);
  EXPECT_EQ(first_calls.calls, 2);
  EXPECT_EQ(first_calls.last_irq, 7);
  EXPECT_EQ(second->GetHandledCounter(7), 0u);
  EXPECT_EQ(second_calls.calls, 0);
}

TEST_F(InterruptTest, EachOfManyComponentsComingAndGoingIsFoundByItsSignals) {
  std::vector<Component> components;
  std::vector<IrqRecorder> recorders(120);
  for (IrqRecorder& recorder : recorders) {
    components.push_back(open_component());
    components.back()->SetOnHwInterrupt(recorder.handler());
    components.back()->UnmaskInterrupt(1);
  }
  for (std::size_t i = 0; i < components.size(); i += 2) components[i].reset();
  for (std::size_t i = 0; i < 40; ++i) {  // newcomers reuse what the departed gave up
    components.push_back(open_component());
    components.back()->SetOnHwInterrupt(recorders[2 * i].handler());
  }
  pc.irqs().raise(1);
  for (std::size_t i = 0; i < recorders.size(); ++i) EXPECT_EQ(recorders[i].calls, i % 2) << "component " << i;
  for (std::size_t i = 1; i < 120; i += 2) EXPECT_EQ(components[i]->GetHandledCounter(1), 1u);
}

TEST_F(InterruptTest, SignalsThatNameNoLivingComponentAndLineAreIgnored) {
  Component component = open_component();
  IrqRecorder recorder;
  component->SetOnHwInterrupt(recorder.handler());
  component->UnmaskInterrupt(2);
  std::uint32_t cookie = last_cookie();

  signal_44(cookie + 1, 2);       // forged
  signal_44(cookie, 16);          // no such line
  signal_44(cookie, -1);          // what sigqueue puts into si_code

  Component gone = open_component();
  gone->SetOnHwInterrupt(recorder.handler());
  gone->UnmaskInterrupt(2);
  std::uint32_t gone_cookie = last_cookie();
  gone.reset();
  signal_44(gone_cookie, 2);      // still queued when its component was destroyed

  EXPECT_EQ(component->GetHandledCounter(2), 0u);
  EXPECT_EQ(recorder.calls, 0);
}

// The signal comes from another process, with sigqueue's information: it names no component and
// no line, so it is ignored, yet like every signal 44 it ends a blocking call.
TEST_F(InterruptTest, Signal44FromAnotherProcessIsIgnoredButInterruptsABlockingCall) {
  Component component = open_component();
  IrqRecorder recorder;
  component->SetOnHwInterrupt(recorder.handler());
  component->UnmaskInterrupt(0);
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  pid_t parent = getpid();
  pid_t child = fork();
  if (child == 0) {
    usleep(200'000);
    sigqueue(parent, ferrox::InterruptSignal, sigval{0});
    _exit(0);
  }
  char byte;
  errno = 0;
  ssize_t result = read(pipe_ends[0], &byte, 1);  // nothing ever comes: only a signal ends it
  int read_error = errno;
  waitpid(child, nullptr, 0);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(read_error, EINTR);
  EXPECT_EQ(component->GetHandledCounter(0), 0u);
  EXPECT_EQ(recorder.calls, 0);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
}

TEST_F(InterruptTest, CloseDriverUnmapsThenMasksEachUnmaskedLineInOrderBeforeClosing) {
  Component component = open_component();
  IrqRecorder recorder;
  component->SetOnHwInterrupt(recorder.handler());
  component->UnmaskInterrupt(5);
  component->UnmaskInterrupt(3);
  pc.irqs().raise(3);
  component->fMapPhysToLinear(0x400, 256);
  pc.log().clear();
  component->CloseDriver();

  // The window goes first, then the lines, all while the descriptor is still open.
  auto entries = pc.log().entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].code, ferrox::Request::Unmap);
  expect_irq_request(entries[1], ferrox::Request::IrqMask, 3);
  expect_irq_request(entries[2], ferrox::Request::IrqMask, 5);
  EXPECT_EQ(entries[3].event, Event::Close);
  EXPECT_FALSE(component->Mapped());
  EXPECT_TRUE(component->fGetMasked(3));
  EXPECT_TRUE(component->fGetMasked(5));
  EXPECT_EQ(component->GetHandledCounter(3), 1u);
  EXPECT_TRUE(pc.irqs().listeners().empty());

  component->OpenDriver();
  EXPECT_EQ(component->GetHandledCounter(3), 0u) << "opening starts every line afresh";
}

TEST_F(InterruptTest, MaskingWorksOnTheLinesAloneWhileTheDriverIsClosed) {
  Component component = make_component();
  IrqRecorder recorder;
  component->SetOnHwInterrupt(recorder.handler());
  component->UnmaskInterrupt(4);
  EXPECT_FALSE(component->fGetMasked(4));
  component->MaskInterrupt(4);
  EXPECT_TRUE(component->fGetMasked(4));
  EXPECT_EQ(component->InterruptCounter(4), 0);
  EXPECT_TRUE(pc.log().entries().empty());
}

TEST_F(InterruptTest, LinesAbove15HaveNoMaskOrCounterButTheDriverIsAsked) {
  Component component = open_component();
  IrqRecorder recorder;
  component->SetOnHwInterrupt(recorder.handler());
  for (Byte line : {Byte{16}, Byte{200}, Byte{255}}) {
    component->UnmaskInterrupt(line);
    component->MaskInterrupt(line);
    EXPECT_TRUE(component->fGetMasked(line));
    EXPECT_EQ(component->GetHandledCounter(line), 0u);
  }
  EXPECT_TRUE(pc.log().requests().empty());

  EXPECT_EQ(component->InterruptCounter(16), -1) << "the driver refuses the line";
  auto requests = pc.log().requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].code, ferrox::Request::IrqCount);
  EXPECT_EQ(requests[0].argument, 16u);
}

// The registry of living components, which the handler reads, must not grow with the number of
// components that came and went while another one lived.
TEST_F(InterruptTest, ComponentsComingAndGoingBesideALivingOneKeepTheHeapBounded) {
  Component resident = make_component();
  for (int warm_up = 0; warm_up < 1000; ++warm_up) make_component();
  std::size_t before = heap_in_use();
  for (int cycle = 0; cycle < 1'000'000; ++cycle) make_component();
  std::size_t after = heap_in_use();
  EXPECT_LT(after, before + 16 * 1024) << "grew by " << after - before << " bytes";
}

TEST_F(InterruptTest, TheHandlerLeavesErrnoAsTheInterruptedCodeHadIt) {
  Component component = open_component();
  IrqRecorder recorder;
  recorder.component = component.get();  // the handler makes a request of its own
  component->SetOnHwInterrupt(recorder.handler());
  component->UnmaskInterrupt(6);
  std::uint32_t cookie = last_cookie();
  pc.faults().fail_request(ferrox::Request::IrqCount & 0xFF, EIO);

  ferrox::vpc::kernel_delivers_signals();  // the virtual PC's first signal may set errno itself
  errno = ERANGE;                  // as a failed call leaves it, before its caller looks
  signal_44(cookie, 6);
  int seen = errno;
  EXPECT_EQ(recorder.calls, 1);
  EXPECT_EQ(recorder.driver_count, -1) << "the handler's request failed";
  EXPECT_EQ(seen, ERANGE);
}

// Destroying a component from its own OnHwInterrupt must not wait for that very call to end.
TEST_F(InterruptTest, AComponentCanBeDestroyedFromItsOwnHandler) {
  struct SelfDestroying {
    Component component;
    volatile sig_atomic_t calls = 0;
    void OnIrq(ferrox::Word) {
      calls = calls + 1;
      component.reset();
    }
  } target{open_component()};
  target.component->SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&SelfDestroying::OnIrq>(&target));
  target.component->UnmaskInterrupt(4);
  pc.irqs().raise(4);
  EXPECT_EQ(target.calls, 1);
  EXPECT_EQ(target.component, nullptr);
  EXPECT_TRUE(pc.irqs().listeners().empty()) << "its line went with it";
}

// Each handler checks that it is called on its own object: a handler whose code came from one
// assignment and whose object from another would call the new code with the old object (or with
// none). The tallies are not members, as the object may be the wrong one.
struct HandlerPair {
  void OnFirst(ferrox::Word) { Check(this == first); }
  void OnSecond(ferrox::Word) { Check(this == second); }
  static void Check(bool own_object) {
    calls = calls + 1;
    if (!own_object) mismatches = mismatches + 1;
  }
  static inline HandlerPair* first = nullptr;
  static inline HandlerPair* second = nullptr;
  static inline volatile sig_atomic_t calls = 0;
  static inline volatile sig_atomic_t mismatches = 0;
};

TEST_F(InterruptTest, ASignalWhileTheHandlerChangesCallsTheOldOrTheNewNeverAMix) {
  HandlerPair one, two;
  HandlerPair::first = &one;
  HandlerPair::second = &two;
  const ferrox::TInterruptHandler first = ferrox::TInterruptHandler::Bind<&HandlerPair::OnFirst>(&one);
  const ferrox::TInterruptHandler second = ferrox::TInterruptHandler::Bind<&HandlerPair::OnSecond>(&two);
  Component component = open_component();
  component->SetOnHwInterrupt(first);
  component->UnmaskInterrupt(5);
  std::uint32_t cookie = last_cookie();

  int traps = 0;
  for (ferrox::TInterruptHandler next : {second, first, ferrox::TInterruptHandler{}, second})
    traps += single_step::Run(cookie, 5, [&] { component->SetOnHwInterrupt(next); });
  if (traps == 0) GTEST_SKIP() << "this processor (or its emulator) does not single-step";
  EXPECT_GT(HandlerPair::calls, 0);
  EXPECT_EQ(HandlerPair::mismatches, 0);
  EXPECT_EQ(component->OnHwInterrupt(), second);
}

TEST_F(InterruptTest, TheDriversCountIsReadableFromInsideTheHandler) {
  Component component = open_component();
  IrqRecorder recorder;
  recorder.component = component.get();
  component->SetOnHwInterrupt(recorder.handler());
  component->UnmaskInterrupt(6);
  for (int i = 0; i < 3; ++i) pc.irqs().raise(6);
  EXPECT_EQ(recorder.driver_count, 3);
  EXPECT_EQ(component->InterruptCounter(6), 3);
  EXPECT_EQ(component->InterruptCounter(2), 0);
}

}  // namespace
