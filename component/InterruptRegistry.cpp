// The living components by cookie: an open-addressing hash table that the signal handler reads
// without locks. Writers publish a slot's component before its cookie and withdraw the cookie
// before the component, so a reader never pairs a cookie with the wrong component. A table
// outgrown is kept until the registry empties, because a handler running on another thread may
// still be reading it.
#include "ferrox/component/InterruptRegistry.h"

#include <atomic>
#include <algorithm>
#include <bit>
#include <cstddef>
#include <memory>

namespace ferrox::detail {

namespace {

constexpr std::uint32_t EmptyCookie = 0;             // a slot never used: ends every probe
constexpr std::uint32_t RemovedCookie = 0xFFFFFFFF;  // a slot given up: probes go on past it
constexpr std::uint32_t MinimumCapacity = 16;

struct Slot {
  std::atomic<std::uint32_t> Cookie{EmptyCookie};
  std::atomic<TFerrox32*> Component{nullptr};
};

struct Table {
  explicit Table(std::uint32_t capacity) : Capacity(capacity), Slots(std::make_unique<Slot[]>(capacity)) {}
  std::uint32_t Capacity;  // a power of two
  std::unique_ptr<Slot[]> Slots;
  std::unique_ptr<Table> Outgrown;
};

static_assert(std::atomic<std::uint32_t>::is_always_lock_free && std::atomic<TFerrox32*>::is_always_lock_free,
              "the signal handler reads the registry without locks");

struct Registry {
  std::atomic<Table*> Current{nullptr};
  std::uint32_t Live = 0;
  std::uint32_t Used = 0;  // live and removed slots of the current table
  std::uint32_t NextToken = 1;
};

constinit Registry registry;

std::uint32_t Home(std::uint32_t cookie, std::uint32_t capacity) {
  return (cookie * 0x9E3779B1u) & (capacity - 1);  // Fibonacci hashing spreads aligned addresses
}

Slot* Lookup(Table& table, std::uint32_t cookie) {
  std::uint32_t index = Home(cookie, table.Capacity);
  for (std::uint32_t probe = 0; probe < table.Capacity; ++probe) {
    Slot& slot = table.Slots[index];
    std::uint32_t held = slot.Cookie.load(std::memory_order_acquire);
    if (held == EmptyCookie) return nullptr;
    if (held == cookie) return &slot;
    index = (index + 1) & (table.Capacity - 1);
  }
  return nullptr;
}

void Place(Table& table, std::uint32_t cookie, TFerrox32* component) {
  std::uint32_t index = Home(cookie, table.Capacity);
  for (;;) {
    Slot& slot = table.Slots[index];
    std::uint32_t held = slot.Cookie.load(std::memory_order_relaxed);
    if (held == EmptyCookie || held == RemovedCookie) {
      if (held == EmptyCookie) ++registry.Used;
      slot.Component.store(component, std::memory_order_release);
      slot.Cookie.store(cookie, std::memory_order_release);
      return;
    }
    index = (index + 1) & (table.Capacity - 1);
  }
}

// Keeps at most half of the slots used, so probes stay short and always meet an empty slot.
void MakeRoom() {
  Table* current = registry.Current.load(std::memory_order_relaxed);
  if (current && (registry.Used + 1) * 2 <= current->Capacity) return;
  std::uint32_t capacity = std::max(MinimumCapacity, std::bit_ceil((registry.Live + 1) * 4));
  auto grown = std::make_unique<Table>(capacity);
  registry.Used = 0;
  if (current) {
    for (std::uint32_t index = 0; index < current->Capacity; ++index) {
      std::uint32_t cookie = current->Slots[index].Cookie.load(std::memory_order_relaxed);
      if (cookie != EmptyCookie && cookie != RemovedCookie)
        Place(*grown, cookie, current->Slots[index].Component.load(std::memory_order_relaxed));
    }
    grown->Outgrown.reset(current);
  }
  registry.Current.store(grown.release(), std::memory_order_release);
}

std::uint32_t CookieFor(TFerrox32* component) {
  if constexpr (sizeof(component) == sizeof(std::uint32_t)) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(component));
  } else {
    std::uint32_t token;
    do token = registry.NextToken++;
    while (token == EmptyCookie || token == RemovedCookie || FindComponent(token));
    return token;
  }
}

}  // namespace

std::uint32_t RegisterComponent(TFerrox32* Component) {
  std::uint32_t cookie = CookieFor(Component);
  MakeRoom();
  Place(*registry.Current.load(std::memory_order_relaxed), cookie, Component);
  ++registry.Live;
  return cookie;
}

void UnregisterComponent(std::uint32_t Cookie) {
  Table* table = registry.Current.load(std::memory_order_relaxed);
  Slot* slot = table ? Lookup(*table, Cookie) : nullptr;
  if (!slot) return;
  slot->Cookie.store(RemovedCookie, std::memory_order_release);
  slot->Component.store(nullptr, std::memory_order_release);
  if (--registry.Live == 0) {
    registry.Current.store(nullptr, std::memory_order_release);
    delete table;  // and every table it outgrew
    registry.Used = 0;
  }
}

TFerrox32* FindComponent(std::uint32_t Cookie) {
  if (Cookie == EmptyCookie || Cookie == RemovedCookie) return nullptr;
  Table* table = registry.Current.load(std::memory_order_acquire);
  Slot* slot = table ? Lookup(*table, Cookie) : nullptr;
  return slot ? slot->Component.load(std::memory_order_acquire) : nullptr;
}

}  // namespace ferrox::detail
