// SPDX-License-Identifier: MIT
// The living components by cookie: an open-addressing hash table that the signal handler reads
// without locks. Writers publish a slot's component before its cookie and withdraw the cookie
// before the component, so a reader never pairs a cookie with the wrong component.
//
// A table is never changed in a way that frees memory under a reader: an outgrown table, or one
// with too many slots given up, is replaced whole and freed once the read sections that could
// hold it have ended. Read sections count themselves in one of two counters, chosen by the
// parity of an epoch; a writer that must wait flips the epoch and waits for the old parity's
// counter to drain, twice, so that a section that read the epoch just before a flip but counted
// itself just after is waited for too. New sections count under the new parity, so a stream of
// interrupts cannot hold a writer up.
#include "ferrox/component/InterruptRegistry.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <memory>
#include <mutex>

#include "ferrox/component/ComponentsLock.h"

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
};

static_assert(std::atomic<std::uint32_t>::is_always_lock_free && std::atomic<TFerrox32*>::is_always_lock_free &&
                  std::atomic<Table*>::is_always_lock_free,
              "the signal handler reads the registry without locks");

struct Registry {
  std::atomic<Table*> Current{nullptr};
  std::atomic<std::uint32_t> Epoch{0};
  std::atomic<std::uint32_t> Readers[2] = {};  // read sections in progress, by the epoch's parity
  std::uint32_t Live = 0;
  std::uint32_t Used = 0;  // live and removed slots of the current table
  std::uint32_t NextToken = 1;
};

constinit Registry registry;

// The read sections this thread is inside of, by parity: a writer running inside a handler
// (OnHwInterrupt destroying a component) must not wait for its own section. Initial-exec TLS is
// reached without a call, so the handler may touch it.
[[gnu::tls_model("initial-exec")]] constinit thread_local std::uint32_t sectionsOfThisThread[2] = {};

void WaitForReadSections() {
  for (int flip = 0; flip < 2; ++flip) {
    std::uint32_t parity = registry.Epoch.fetch_add(1) & 1;
    while (registry.Readers[parity].load() != sectionsOfThisThread[parity]) __builtin_ia32_pause();
  }
}

// Makes next the table readers find, then frees the one it replaces once no reader holds it.
void Publish(std::unique_ptr<Table> next) {
  std::unique_ptr<Table> replaced(registry.Current.exchange(next.release()));
  if (replaced) WaitForReadSections();
}

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

// A slot given up is taken again only after its removal waited for the readers, so no reader
// that matched the old cookie is still there to read the new component.
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

// Keeps at most half of the slots used, so probes stay short and always meet an empty slot. A
// table full of given-up slots is rebuilt at a size fitting the living components.
void MakeRoom() {
  Table* current = registry.Current.load(std::memory_order_relaxed);
  if (current && (registry.Used + 1) * 2 <= current->Capacity) return;
  auto rebuilt = std::make_unique<Table>(std::max(MinimumCapacity, std::bit_ceil((registry.Live + 1) * 4)));
  registry.Used = 0;
  if (current) {
    for (std::uint32_t index = 0; index < current->Capacity; ++index) {
      std::uint32_t cookie = current->Slots[index].Cookie.load(std::memory_order_relaxed);
      if (cookie != EmptyCookie && cookie != RemovedCookie)
        Place(*rebuilt, cookie, current->Slots[index].Component.load(std::memory_order_relaxed));
    }
  }
  Publish(std::move(rebuilt));
}

std::uint32_t CookieFor(TFerrox32* component) {
  if constexpr (sizeof(component) == sizeof(std::uint32_t)) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(component));
  } else {
    Table* table = registry.Current.load(std::memory_order_relaxed);
    std::uint32_t token;
    do token = registry.NextToken++;
    while (token == EmptyCookie || token == RemovedCookie || (table && Lookup(*table, token)));
    return token;
  }
}

}  // namespace

std::uint32_t RegisterComponent(TFerrox32* Component) {
  std::lock_guard lock(TheComponentsLock);
  std::uint32_t cookie = CookieFor(Component);
  MakeRoom();
  Place(*registry.Current.load(std::memory_order_relaxed), cookie, Component);
  ++registry.Live;
  return cookie;
}

void UnregisterComponent(std::uint32_t Cookie) {
  std::lock_guard lock(TheComponentsLock);
  Table* table = registry.Current.load(std::memory_order_relaxed);
  Slot* slot = table ? Lookup(*table, Cookie) : nullptr;
  if (!slot) return;
  slot->Cookie.store(RemovedCookie, std::memory_order_release);
  slot->Component.store(nullptr, std::memory_order_release);
  if (--registry.Live == 0) {
    registry.Used = 0;
    Publish(nullptr);
  } else {
    WaitForReadSections();
  }
}

std::uint32_t LivingComponents() { return registry.Live; }

RegistryReadSection::RegistryReadSection() : FParity(registry.Epoch.load() & 1) {
  ++sectionsOfThisThread[FParity];
  registry.Readers[FParity].fetch_add(1);
}

RegistryReadSection::~RegistryReadSection() {
  registry.Readers[FParity].fetch_sub(1);
  --sectionsOfThisThread[FParity];
}

TFerrox32* RegistryReadSection::Find(std::uint32_t Cookie) const {
  if (Cookie == EmptyCookie || Cookie == RemovedCookie) return nullptr;
  Table* table = registry.Current.load();
  Slot* slot = table ? Lookup(*table, Cookie) : nullptr;
  return slot ? slot->Component.load(std::memory_order_acquire) : nullptr;
}

}  // namespace ferrox::detail
