// SPDX-License-Identifier: MIT
// The virtual PC's sixteen IRQ lines: a count per line, and the processes the driver signals for
// each line (its listeners). Raising a line counts it and queues one signal per listener, carrying
// the listener's cookie in si_errno and the line in si_code.
//
// The machine is single-threaded, and a signal handler may call straight back into it. So a
// signal is never sent while the machine is in the middle of serving something: whoever serves
// a request or a trapped port instruction takes a Hold, and the signals raised meanwhile go out
// when the last Hold ends, after the request's work is done.
#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "ferrox/vpc/Export.h"

namespace ferrox::vpc {

constexpr unsigned IrqLineCount = 16;

struct IrqListener {
  std::uint32_t file = 0;  // the driver file that registered it; released with that file
  pid_t process = 0;
  int signal = 0;
  unsigned line = 0;
  std::uint32_t cookie = 0;
  std::uint64_t signals = 0;  // signals sent to it: tests compare them with what was handled
};

// Told when a line gains its first listener or loses its last (the interval timer runs only while
// its line is listened to).
class LineWatcher {
 public:
  virtual void listened(bool any) = 0;

 protected:
  ~LineWatcher() = default;
};

class VPC_API IrqController {
 public:
  // Clears the counts, the listeners and the signals not yet sent.
  void reset();
  // The watcher of a line (one per line; nullptr for none).
  void watch(unsigned line, LineWatcher* watcher) { watchers_.at(line) = watcher; }

  // One interrupt on a line (0..15; others are ignored): the line's count goes up by one and
  // every listener of the line is signalled.
  void raise(unsigned line);
  std::uint32_t count(unsigned line) const { return line < IrqLineCount ? counts_[line] : 0; }
  // Interrupts raised on a line while a driver listened to it: the ones a driver takes and counts
  // (a line nobody listens to is masked, and the processor never sees its interrupts).
  std::uint32_t taken(unsigned line) const { return line < IrqLineCount ? taken_[line] : 0; }
  const std::vector<IrqListener>& listeners() const { return listeners_; }

  // The driver's side: a listener per (file, process, line), replaced when registered again.
  void listen(const IrqListener& listener);
  // False when there was no such listener.
  bool unlisten(std::uint32_t file, pid_t process, unsigned line);
  void release(std::uint32_t file);
  // From now on only the listeners of this process are signalled (those of a forked child's copy
  // of the machine belong to its parent).
  void signal_only(pid_t process) { only_process_ = process; }

  // One signal as a listener is sent it, from a driver that answers from elsewhere (a replay):
  // queued with the others and sent when the machine is not busy.
  void queue_signal(int signal, std::uint32_t cookie, unsigned line);

  // An interrupt from a source that runs in signal context (the timer). Async-signal-safe: when
  // the machine is busy, the interrupt is raised as soon as it is not.
  void raise_from_signal(unsigned line);

  class VPC_API Hold {
   public:
    explicit Hold(IrqController& controller) : controller_(controller) { ++controller_.holds_; }
    ~Hold() {
      if (--controller_.holds_ == 0 && (controller_.queued_count_ != 0 || controller_.any_deferred_))
        controller_.send_queued();
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    IrqController& controller_;
  };

 private:
  struct Signal {
    int signal;
    std::uint32_t cookie;
    unsigned line;
  };

  void count_and_queue(unsigned line);
  void raise_deferred();
  bool take_signal(Signal& out);
  void send_queued();
  bool listened(unsigned line) const;
  // Tells the line's watcher when the listeners' count went from or to none.
  void notify_watcher(unsigned line, bool listened_before);

  std::array<std::uint32_t, IrqLineCount> counts_{};
  std::array<std::uint32_t, IrqLineCount> taken_{};
  std::vector<IrqListener> listeners_;
  pid_t only_process_ = 0;  // 0: every listener's
  // Signals raised but not yet sent; bounded like the kernel's queue of pending signals.
  std::array<Signal, 1024> queued_{};
  std::size_t first_ = 0;
  std::size_t queued_count_ = 0;
  std::atomic<int> holds_{0};
  // Interrupts raised from signal context while busy, counted per line, and whether there are any.
  std::array<std::atomic<unsigned>, IrqLineCount> deferred_{};
  std::atomic<bool> any_deferred_{false};
  std::array<LineWatcher*, IrqLineCount> watchers_{};
};

}  // namespace ferrox::vpc
