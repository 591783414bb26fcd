// SPDX-License-Identifier: MIT
// TInterruptEvents: interrupts as records on a descriptor, what is lost when nobody reads, and
// giving the handler back while interrupts keep coming on another thread.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "ferrox/events/InterruptEvents.h"
#include "tests/support/component.h"
#include "tests/support/descriptors.h"
#include "tests/support/virtual_pc.h"

using ferrox::TInterruptEvent;
using ferrox::TInterruptEvents;

namespace {

class EventsTest : public VirtualPcTest {
 protected:
  EventsTest() { component->OpenDriver(); }

  std::unique_ptr<TInterruptEvents> attach(std::size_t capacity = TInterruptEvents::DefaultCapacity) {
    auto events = TInterruptEvents::Attach(*component, capacity);
    EXPECT_TRUE(events) << events.error().Text();
    return std::move(*events);
  }

  std::vector<TInterruptEvent> read_all(TInterruptEvents& events) {
    std::vector<TInterruptEvent> got(events.Capacity() + 1);
    got.resize(events.Read(got.data(), got.size()));
    return got;
  }

  Component component = make_component();
};

void counting_handler(void* counter, ferrox::Word) { ++*static_cast<int*>(counter); }

TEST_F(EventsTest, EachInterruptIsARecordOfItsLineInOrderAndTheDescriptorSaysWhenThereAreSome) {
  auto events = attach();
  component->UnmaskInterrupt(7);
  component->UnmaskInterrupt(5);
  pollfd readable{events->Descriptor(), POLLIN, 0};
  EXPECT_EQ(poll(&readable, 1, 0), 0);

  pc.irqs().raise(7);
  pc.irqs().raise(5);
  pc.irqs().raise(7);
  pc.irqs().raise(3);  // masked: nothing comes
  EXPECT_EQ(poll(&readable, 1, 0), 1);
  std::vector<TInterruptEvent> got = read_all(*events);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].Line, 7u);
  EXPECT_EQ(got[0].Sequence, 1u);
  EXPECT_EQ(got[1].Line, 5u);
  EXPECT_EQ(got[1].Sequence, 1u);
  EXPECT_EQ(got[2].Line, 7u);
  EXPECT_EQ(got[2].Sequence, 2u);
  EXPECT_LE(got[0].Time, got[1].Time);
  EXPECT_LE(got[1].Time, got[2].Time);
  EXPECT_EQ(component->GetHandledCounter(7), 2u);
  EXPECT_EQ(events->Lost(), 0u);
  EXPECT_EQ(poll(&readable, 1, 0), 0);
}

TEST_F(EventsTest, WaitEndsAtItsTimeoutOrWithTheRecordsAnotherThreadCaused) {
  auto events = attach();
  component->UnmaskInterrupt(7);
  TInterruptEvent got[4];
  auto before = std::chrono::steady_clock::now();
  auto none = events->Wait(got, 4, 50);
  ASSERT_TRUE(none);
  EXPECT_EQ(*none, 0u);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));

  std::thread raiser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pc.irqs().raise(7);
  });
  auto some = events->Wait(got, 4, 5000);
  raiser.join();
  ASSERT_TRUE(some);
  ASSERT_EQ(*some, 1u);
  EXPECT_EQ(got[0].Line, 7u);
}

TEST_F(EventsTest, InterruptsThatFindThePipeFullAreCountedByLineAndTheSequenceShowsTheGap) {
  auto events = attach(1);  // the smallest pipe the system gives: one page
  std::size_t capacity = events->Capacity();
  ASSERT_GE(capacity, 1u);
  ASSERT_LT(capacity, TInterruptEvents::DefaultCapacity);
  component->UnmaskInterrupt(7);
  component->UnmaskInterrupt(5);
  for (std::size_t i = 0; i < capacity + 10; ++i) pc.irqs().raise(7);
  pc.irqs().raise(5);
  EXPECT_EQ(events->Lost(7), 10u);
  EXPECT_EQ(events->Lost(5), 1u);
  EXPECT_EQ(events->Lost(), 11u);
  EXPECT_EQ(events->Lost(200), 0u);
  EXPECT_EQ(component->GetHandledCounter(7), capacity + 10);  // the component counted them all

  std::vector<TInterruptEvent> got = read_all(*events);
  ASSERT_EQ(got.size(), capacity);
  EXPECT_EQ(got.back().Sequence, capacity);
  pc.irqs().raise(7);
  got = read_all(*events);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Sequence, capacity + 11);
}

TEST_F(EventsTest, DestroyingGivesBackThePreviousHandlerAndTheDescriptor) {
  int counted = 0;
  ferrox::TInterruptHandler own{counting_handler, &counted};
  component->SetOnHwInterrupt(own);
  int descriptors = open_descriptor_count();
  auto events = attach();
  EXPECT_EQ(component->OnHwInterrupt(), events->Handler());
  component->UnmaskInterrupt(7);
  pc.irqs().raise(7);
  EXPECT_EQ(counted, 0);
  events.reset();
  EXPECT_EQ(component->OnHwInterrupt(), own);
  EXPECT_EQ(open_descriptor_count(), descriptors);
  pc.irqs().raise(7);
  EXPECT_EQ(counted, 1);

  // A handler assigned after the events' stays.
  events = attach();
  component->SetOnHwInterrupt({});
  events.reset();
  EXPECT_FALSE(component->OnHwInterrupt().Assigned());
}

TEST_F(EventsTest, DetachingEndsAWaitUnderWayAndLeavesWhatWaitsToBeRead) {
  auto events = attach(1);
  component->UnmaskInterrupt(7);
  for (std::size_t i = 0; i < events->Capacity() + 2; ++i) pc.irqs().raise(7);
  std::vector<TInterruptEvent> first(1);
  ASSERT_EQ(events->Read(first.data(), 1), 1u);

  TInterruptEvents* shared = events.get();
  std::thread waiter([&] {
    std::vector<TInterruptEvent> got(events->Capacity());
    auto taken = shared->Wait(got.data(), got.size(), -1);  // returns the rest
    EXPECT_TRUE(taken);
    EXPECT_EQ(*taken, got.size() - 1);
    auto none = shared->Wait(got.data(), got.size(), -1);  // nothing will come: returns at once
    EXPECT_TRUE(none);
    EXPECT_EQ(*none, 0u);
  });
  events->Detach();
  waiter.join();
  EXPECT_FALSE(component->OnHwInterrupt().Assigned());
  EXPECT_EQ(events->Lost(7), 2u);  // kept after the slot is given up
  events->Detach();
}

TEST_F(EventsTest, EventsOfTwoComponentsStayApart) {
  Component other = make_component();
  other->OpenDriver();
  auto mine = attach();
  auto theirs = TInterruptEvents::Attach(*other);
  ASSERT_TRUE(theirs);
  component->UnmaskInterrupt(7);
  other->UnmaskInterrupt(5);
  pc.irqs().raise(7);
  pc.irqs().raise(5);
  std::vector<TInterruptEvent> got = read_all(*mine);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Line, 7u);
  got = read_all(**theirs);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Line, 5u);
}

TEST_F(EventsTest, SixtyFourLiveAtOnceAndTheNextIsRefusedWithEmfileUntilOneGoes) {
  std::vector<std::unique_ptr<TInterruptEvents>> attached;
  for (;;) {
    auto events = TInterruptEvents::Attach(*component);
    if (!events) {
      EXPECT_EQ(errno, EMFILE);
      break;
    }
    attached.push_back(std::move(*events));
  }
  EXPECT_EQ(attached.size(), 64u);
  attached.pop_back();
  EXPECT_TRUE(TInterruptEvents::Attach(*component));
  // Destroyed newest first, each gives back the handler of the one before.
  while (!attached.empty()) attached.pop_back();
  EXPECT_FALSE(component->OnHwInterrupt().Assigned());
}

// Interrupts keep coming on another thread while events are attached and destroyed: a handler
// that took the old OnHwInterrupt must never write into a pipe that is gone, nor into whatever
// file took its descriptor's number since.
TEST_F(EventsTest, AttachingAndDestroyingWhileAnotherThreadTakesInterrupts) {
  component->SetOnHwInterrupt({[](void*, ferrox::Word) {}, nullptr});  // so that the line unmasks
  component->UnmaskInterrupt(7);
  std::atomic<bool> done{false};
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, ferrox::InterruptSignal);
  std::thread raiser([&] {
    while (!done.load()) pc.irqs().raise(7);
  });
  // This thread leaves the interrupts to the other one.
  pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
  for (int round = 0; round < 300; ++round) {
    auto events = attach();
    events.reset();
    // The descriptor numbers the events had are free now and taken by a pipe that nobody writes.
    int reused[2];
    ASSERT_EQ(pipe2(reused, O_NONBLOCK), 0);
    char byte;
    EXPECT_EQ(read(reused[0], &byte, 1), -1) << "round " << round;
    close(reused[0]);
    close(reused[1]);
  }
  done.store(true);
  raiser.join();
  pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
}

}  // namespace
