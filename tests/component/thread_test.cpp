// SPDX-License-Identifier: MIT
// Interrupts taken on one thread while components are created, changed and destroyed on another.
// The main thread blocks signal 44, as a program that leaves interrupts to a worker does; the
// worker sends itself signal 44 as the driver would, naming living and departed components.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/vpc/kernel/signal_delivery.h"
#include "tests/support/component.h"
#include "tests/support/virtual_pc.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void set_signal_44(int how) {
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, ferrox::InterruptSignal);
  pthread_sigmask(how, &only, nullptr);
}

void send_44(std::uint32_t cookie, std::int32_t line) {
  ferrox::vpc::send_driver_signal(ferrox::InterruptSignal, static_cast<std::int32_t>(cookie), line);
}

class InterruptThreadsTest : public VirtualPcTest {
 protected:
  void SetUp() override {
    VirtualPcTest::SetUp();
    ferrox::vpc::kernel_delivers_signals();  // decided before any thread starts
    set_signal_44(SIG_BLOCK);        // inherited by every thread started from here
  }
  void TearDown() override { set_signal_44(SIG_UNBLOCK); }

  // A component with its driver open and Line unmasked; Cookie is what its signals carry.
  Component listening(ferrox::TInterruptHandler handler, ferrox::Byte line, std::uint32_t& cookie) {
    Component component = make_component();
    component->OpenDriver();
    component->SetOnHwInterrupt(handler);
    pc.log().clear();
    component->UnmaskInterrupt(line);
    cookie = pc.log().requests().at(0).sent_as<ferrox::TIrqRequest>().Component;
    pc.log().clear();
    return component;
  }
};

// A handler that stays in OnHwInterrupt for a while, as one that talks to slow hardware does.
struct SlowHandler {
  std::atomic<bool> entered{false};
  std::atomic<bool> finished{false};
  void OnIrq(ferrox::Word) {
    entered = true;
    auto until = Clock::now() + 200ms;
    while (Clock::now() < until) std::this_thread::yield();
    finished = true;
  }
};

TEST_F(InterruptThreadsTest, DestroyingAComponentWaitsForItsHandlerRunningOnAnotherThread) {
  SlowHandler slow;
  std::uint32_t cookie;
  Component component = listening(ferrox::TInterruptHandler::Bind<&SlowHandler::OnIrq>(&slow), 3, cookie);
  std::thread worker([&] {
    set_signal_44(SIG_UNBLOCK);
    send_44(cookie, 3);
  });
  auto give_up = Clock::now() + 10s;
  while (!slow.entered && Clock::now() < give_up) std::this_thread::yield();
  ASSERT_TRUE(slow.entered);
  component.reset();
  bool finished_before_destroyed = slow.finished;
  worker.join();
  EXPECT_TRUE(finished_before_destroyed) << "the component was gone while its handler still ran";
}

// Each slot of the stress test has two targets; each target's handlers check that they run on
// their own object and only while the component that calls them has not finished being destroyed.
constexpr int Slots = 4;

struct Target {
  std::atomic<bool> alive{false};
  void OnFirst(ferrox::Word line);
  void OnSecond(ferrox::Word line);
};

std::array<Target, Slots> firsts, seconds;
std::atomic<int> calls{0}, faults{0};

void Check(const Target* self, ferrox::Word line, const std::array<Target, Slots>& own) {
  ++calls;
  bool own_object = self >= own.data() && self < own.data() + Slots;
  if (!own_object || line >= ferrox::IrqLineCount || !self->alive) ++faults;
}

void Target::OnFirst(ferrox::Word line) { Check(this, line, firsts); }
void Target::OnSecond(ferrox::Word line) { Check(this, line, seconds); }

TEST_F(InterruptThreadsTest, AWorkerTakesInterruptsWhileComponentsComeChangeAndGo) {
  constexpr int Cycles = 1500;
  std::array<std::atomic<std::uint32_t>, Slots> cookies{};  // left in place after destruction
  std::atomic<bool> done{false};
  std::atomic<long> sent{0};

  std::thread worker([&] {
    set_signal_44(SIG_UNBLOCK);
    std::minstd_rand random(44);
    while (!done) {
      std::uint32_t cookie = cookies[random() % Slots];
      if (cookie == 0) continue;
      send_44(random() % 8 == 0 ? cookie + 1 : cookie, static_cast<std::int32_t>(random() % 17));
      ++sent;
      std::this_thread::yield();  // interrupts come often, not back to back
    }
  });

  std::thread components([&] {
    std::array<Component, Slots> living;
    std::minstd_rand random(19);
    for (int cycle = 0; cycle < Cycles; ++cycle) {
      int slot = static_cast<int>(random() % Slots);
      Target& first = firsts[slot];
      Target& second = seconds[slot];
      if (living[slot]) {
        living[slot].reset();
        first.alive = second.alive = false;
        continue;
      }
      first.alive = second.alive = true;
      std::uint32_t cookie;
      living[slot] = listening(ferrox::TInterruptHandler::Bind<&Target::OnFirst>(&first),
                               static_cast<ferrox::Byte>(random() % 16), cookie);
      cookies[slot] = cookie;
      for (int change = 0; change < 20; ++change) {
        living[slot]->SetOnHwInterrupt(change % 2 ? ferrox::TInterruptHandler::Bind<&Target::OnFirst>(&first)
                                                  : ferrox::TInterruptHandler::Bind<&Target::OnSecond>(&second));
        std::this_thread::yield();
      }
    }
  });

  components.join();
  done = true;
  worker.join();
  RecordProperty("signals_sent", static_cast<int>(sent));
  RecordProperty("handler_calls", calls);
  EXPECT_GT(sent, 0);
  EXPECT_GT(calls, 0);
  EXPECT_EQ(faults, 0) << "of " << calls << " calls";
}

// Components made, used and freed on several threads at once: the first and the last of the
// process allocate and release the module-wide records and the interrupt registry's table.
using ComponentThreadsTest = VirtualPcTest;

TEST_F(ComponentThreadsTest, CreatedUsedAndFreedOnFourThreadsAtOnce) {
  constexpr int Threads = 4;
  constexpr int Cycles = 400;
  std::atomic<int> opened{0};
  // The operations share the module-wide request records, so they take turns; creating and
  // freeing the components do not.
  std::mutex operations;
  std::vector<std::thread> threads;
  for (int thread = 0; thread < Threads; ++thread) {
    threads.emplace_back([&] {
      for (int cycle = 0; cycle < Cycles; ++cycle) {
        Component component = make_component();
        std::unique_lock turn(operations);
        component->OpenDriver();
        if (component->DriverActive()) ++opened;
        component->fGetPortB(0x379);
        turn.unlock();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(opened, Threads * Cycles);
}

}  // namespace
