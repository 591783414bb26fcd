// SPDX-License-Identifier: MIT
// TInterruptEvents: the recording handler, its slots, and the pipe it writes into.
//
// The handler runs inside the component's handler of signal 44, on any thread, and may still be
// running, or about to run, the old handler after SetOnHwInterrupt has replaced it. So it never
// reaches an object that may be freed: its Data is the key of a slot in a table that lives as long
// as the library, and a slot is given up only once no handler is inside it.
#include "ferrox/events/InterruptEvents.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

namespace ferrox {

namespace {

constexpr unsigned SlotBits = 6;
constexpr std::size_t SlotCount = std::size_t{1} << SlotBits;
constexpr std::uintptr_t SlotMask = SlotCount - 1;
constexpr std::uintptr_t NoKey = 0;

static_assert(std::atomic<std::uint32_t>::is_always_lock_free && std::atomic<std::uintptr_t>::is_always_lock_free &&
                  std::atomic<int>::is_always_lock_free,
              "the handler's atomics must be async-signal-safe");

struct Slot {
  // The key of the TInterruptEvents that owns the slot, NoKey while it is being given up or free.
  std::atomic<std::uintptr_t> Key{NoKey};
  // Handlers inside the slot now. A handler counts itself in before it looks at Key, and the
  // owner clears Key before it waits for this to be 0: one of them sees the other (both
  // sequentially consistent), so no handler writes into a pipe being closed.
  std::atomic<int> Active{0};
  std::atomic<int> WriteEnd{-1};
  std::array<std::atomic<std::uint32_t>, IrqLineCount> Sequence{};
  std::array<std::atomic<std::uint32_t>, IrqLineCount> Lost{};
  // Only under SlotsLock: taken by a living TInterruptEvents, and the generation that makes its
  // key differ from every earlier owner's.
  bool Taken = false;
  std::uintptr_t Generation = 0;
};

std::array<Slot, SlotCount> Slots;
std::mutex SlotsLock;

Slot& SlotOf(std::uintptr_t Key) { return Slots[Key & SlotMask]; }

std::int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// The OnHwInterrupt of every TInterruptEvents, in signal context: clock_gettime and write are
// async-signal-safe, the rest is lock-free atomics. The component's handler keeps errno.
void RecordInterrupt(void* Data, Word Line) {
  if (Line >= IrqLineCount) return;
  auto key = reinterpret_cast<std::uintptr_t>(Data);
  Slot& slot = SlotOf(key);
  slot.Active.fetch_add(1);
  if (slot.Key.load() == key) {
    TInterruptEvent event{Line, slot.Sequence[Line].fetch_add(1, std::memory_order_relaxed) + 1,
                          MonotonicNanoseconds()};
    if (write(slot.WriteEnd.load(), &event, sizeof event) != static_cast<ssize_t>(sizeof event))
      slot.Lost[Line].fetch_add(1, std::memory_order_relaxed);
  }
  slot.Active.fetch_sub(1);
}

// A free slot with a new key, or NoKey when all are taken.
std::uintptr_t TakeSlot() {
  std::lock_guard<std::mutex> lock(SlotsLock);
  for (std::uintptr_t index = 0; index < SlotCount; ++index) {
    Slot& slot = Slots[index];
    if (slot.Taken) continue;
    slot.Taken = true;
    // Generation 0 is never used, so that no key is NoKey.
    if (++slot.Generation > (~std::uintptr_t{0} >> SlotBits)) slot.Generation = 1;
    return slot.Generation << SlotBits | index;
  }
  return NoKey;
}

void GiveSlotBack(std::uintptr_t Key) {
  std::lock_guard<std::mutex> lock(SlotsLock);
  SlotOf(Key).Taken = false;
}

// The pipe's size in records: Capacity rounded up, as far as the system lets this process; the
// default size where it does not.
std::size_t SizePipe(int WriteEnd, std::size_t Capacity) {
  std::size_t bytes = Capacity * sizeof(TInterruptEvent);
  if (bytes <= static_cast<std::size_t>(INT32_MAX)) fcntl(WriteEnd, F_SETPIPE_SZ, static_cast<int>(bytes));
  int size = fcntl(WriteEnd, F_GETPIPE_SZ);
  return size > 0 ? static_cast<std::size_t>(size) / sizeof(TInterruptEvent) : TInterruptEvents::DefaultCapacity;
}

}  // namespace

Result<std::unique_ptr<TInterruptEvents>> TInterruptEvents::Attach(TFerrox32& Component, std::size_t Capacity) {
  std::uintptr_t key = TakeSlot();
  if (key == NoKey) {
    errno = EMFILE;
    return Error{"no room for more interrupt events: " + std::to_string(SlotCount) + " are attached in this process"};
  }
  int ends[2];
  if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
    int error = errno;
    GiveSlotBack(key);
    errno = error;
    return Error{std::string("no pipe for the interrupt events: ") + std::strerror(error)};
  }
  std::size_t capacity = SizePipe(ends[1], Capacity);
  Slot& slot = SlotOf(key);
  for (std::size_t line = 0; line < IrqLineCount; ++line) {
    slot.Sequence[line].store(0);
    slot.Lost[line].store(0);
  }
  slot.WriteEnd.store(ends[1]);
  slot.Key.store(key);
  std::unique_ptr<TInterruptEvents> events(new TInterruptEvents(Component, key, ends[0], capacity));
  Component.SetOnHwInterrupt(events->Handler());
  return events;
}

TInterruptEvents::TInterruptEvents(TFerrox32& Component, std::uintptr_t Key, int ReadEnd, std::size_t Capacity)
    : FComponent(Component), FPrevious(Component.OnHwInterrupt()), FKey(Key), FReadEnd(ReadEnd), FCapacity(Capacity) {}

void TInterruptEvents::Detach() {
  if (FKey == NoKey) return;
  if (FComponent.OnHwInterrupt() == Handler()) FComponent.SetOnHwInterrupt(FPrevious);
  Slot& slot = SlotOf(FKey);
  slot.Key.store(NoKey);
  // A handler that took the old OnHwInterrupt before it was replaced may still be recording.
  while (slot.Active.load() != 0) sched_yield();
  close(slot.WriteEnd.exchange(-1));
  for (std::size_t line = 0; line < IrqLineCount; ++line) FLostWhenDetached[line] = slot.Lost[line].load();
  GiveSlotBack(FKey);
  FKey = NoKey;
}

TInterruptEvents::~TInterruptEvents() {
  Detach();
  close(FReadEnd);
}

TInterruptHandler TInterruptEvents::Handler() const {
  if (FKey == NoKey) return {};
  return {RecordInterrupt, reinterpret_cast<void*>(FKey)};
}

std::size_t TInterruptEvents::Read(TInterruptEvent* Events, std::size_t Size) {
  // Every write and every read is of whole records, so the pipe only ever holds whole records.
  ssize_t got = read(FReadEnd, Events, Size * sizeof(TInterruptEvent));
  return got > 0 ? static_cast<std::size_t>(got) / sizeof(TInterruptEvent) : 0;
}

Result<std::size_t> TInterruptEvents::Wait(TInterruptEvent* Events, std::size_t Size, int TimeoutMs) {
  const std::int64_t deadline = MonotonicNanoseconds() + std::int64_t{TimeoutMs} * 1000000;
  for (;;) {
    int left = TimeoutMs;
    if (TimeoutMs >= 0) {
      std::int64_t nanoseconds = deadline - MonotonicNanoseconds();
      left = nanoseconds > 0 ? static_cast<int>((nanoseconds + 999999) / 1000000) : 0;
    }
    pollfd readable{FReadEnd, POLLIN, 0};
    int ready = poll(&readable, 1, left);
    if (ready > 0) {
      // Another thread may have taken them first: then wait on for the time left, unless the
      // write end is gone.
      std::size_t taken = Read(Events, Size);
      if (taken > 0 || left == 0 || (readable.revents & POLLHUP)) return taken;
      continue;
    }
    if (ready == 0) return std::size_t{0};
    if (errno != EINTR) return Error{std::string("waiting for interrupt events: ") + std::strerror(errno)};
  }
}

std::uint64_t TInterruptEvents::Lost(Byte Line) const {
  if (Line >= IrqLineCount) return 0;
  return FKey == NoKey ? FLostWhenDetached[Line] : SlotOf(FKey).Lost[Line].load(std::memory_order_relaxed);
}

std::uint64_t TInterruptEvents::Lost() const {
  std::uint64_t lost = 0;
  for (Byte line = 0; line < IrqLineCount; ++line) lost += Lost(line);
  return lost;
}

}  // namespace ferrox
