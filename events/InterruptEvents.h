// SPDX-License-Identifier: MIT
// TInterruptEvents: a component's interrupts as records that a program waits for on a file
// descriptor (poll, select, epoll, an event loop) instead of code that runs in the signal handler.
//
//   auto events = ferrox::TInterruptEvents::Attach(*pc);   // assigns pc's OnHwInterrupt
//   if (!events) return fail(events.error().Text());       // errno says why, too
//   pc->UnmaskInterrupt(7);
//   ferrox::TInterruptEvent got[16];
//   auto count = (*events)->Wait(got, 16, 1000);            // up to 1 s for the first records
//
// The handler it assigns records each interrupt with async-signal-safe work only: lock-free
// counts and one write of a 16-byte record into a pipe. When the pipe is full the interrupt is
// counted as lost, by line, instead; every record carries its line's sequence number, so a gap in
// the numbers shows where the lost ones were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ferrox/common/Result.h"
#include "ferrox/component/Ferrox32.h"
#include "ferrox/events/Export.h"

namespace ferrox {

struct TInterruptEvent {
  std::uint32_t Line;      // the IRQ line, 0..15
  std::uint32_t Sequence;  // the line's interrupts since Attach, this one included (wraps at 2^32)
  std::int64_t Time;       // when the handler ran: CLOCK_MONOTONIC, in nanoseconds
};
static_assert(sizeof(TInterruptEvent) == 16, "one record is one atomic pipe write");

class FERROX_EVENTS_API TInterruptEvents {
 public:
  // Records that may wait unread before interrupts are lost: the pipe's own default size.
  static constexpr std::size_t DefaultCapacity = 4096;

  // Records the interrupts of Component from now on, by assigning its OnHwInterrupt; the handler
  // assigned before is assigned again when this is destroyed. Capacity is rounded up by the
  // system, within what it allows an unprivileged process (Capacity() says what it gave). An error
  // when no pipe can be had, or when 64 of these live already in the process; errno says which
  // (EMFILE for the latter).
  static Result<std::unique_ptr<TInterruptEvents>> Attach(TFerrox32& Component,
                                                          std::size_t Capacity = DefaultCapacity);
  // Stops recording: assigns the previous OnHwInterrupt again (unless another was assigned
  // meanwhile), waits for handlers still recording on other threads, and closes the pipe's write
  // end, so that a Wait under way returns. Records already waiting can still be read. Component
  // must live until this has been called, by the program or by the destructor; later calls do
  // nothing.
  void Detach();
  // Detaches, and closes the descriptor.
  ~TInterruptEvents();
  TInterruptEvents(const TInterruptEvents&) = delete;
  TInterruptEvents& operator=(const TInterruptEvents&) = delete;

  // Readable while records wait; non-blocking and close-on-exec. Records are taken with Read or
  // Wait (a read(2) of it must take whole records of 16 bytes).
  int Descriptor() const { return FReadEnd; }
  // How many records the pipe holds before interrupts are lost.
  std::size_t Capacity() const { return FCapacity; }
  // Takes up to Size waiting records, oldest first, without waiting: 0 when none wait.
  std::size_t Read(TInterruptEvent* Events, std::size_t Size);
  // Waits up to TimeoutMs milliseconds (negative: without limit) for records, then takes up to
  // Size of them: 0 when none came in time, or none will (detached). Signals that interrupt the wait (signal 44 among them)
  // do not end it early. An error, with errno, only when poll itself fails.
  Result<std::size_t> Wait(TInterruptEvent* Events, std::size_t Size, int TimeoutMs);

  // Interrupts that found the pipe full since Attach: of one line (0 above 15), and of all.
  std::uint64_t Lost(Byte Line) const;
  std::uint64_t Lost() const;
  // The OnHwInterrupt this assigned.
  TInterruptHandler Handler() const;

 private:
  TInterruptEvents(TFerrox32& Component, std::uintptr_t Key, int ReadEnd, std::size_t Capacity);

  TFerrox32& FComponent;
  TInterruptHandler FPrevious;
  std::uintptr_t FKey;  // names this one's slot to the handler; 0 once detached
  int FReadEnd;
  std::size_t FCapacity;
  std::uint64_t FLostWhenDetached[IrqLineCount] = {};  // the slot's counts, kept when it is given up
};

}  // namespace ferrox
