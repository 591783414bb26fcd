// SPDX-License-Identifier: MIT
// The IRQ lines: counting, listeners and the signals they are sent.
#include "ferrox/vpc/platform/irq_controller.h"

#include <algorithm>

#include "ferrox/vpc/kernel/signal_delivery.h"

namespace ferrox::vpc {

void IrqController::reset() {
  Hold hold(*this);
  counts_.fill(0);
  taken_.fill(0);
  listeners_.clear();
  only_process_ = 0;  // every listener from now on is this process's
  first_ = queued_count_ = 0;
  for (auto& deferred : deferred_) deferred = 0;
  any_deferred_ = false;
  for (unsigned line = 0; line < IrqLineCount; ++line)
    if (watchers_[line]) watchers_[line]->listened(false);
}

void IrqController::raise(unsigned line) {
  Hold hold(*this);
  count_and_queue(line);
}

void IrqController::queue_signal(int signal, std::uint32_t cookie, unsigned line) {
  Hold hold(*this);
  if (queued_count_ < queued_.size()) queued_[(first_ + queued_count_++) % queued_.size()] = {signal, cookie, line};
}

void IrqController::raise_from_signal(unsigned line) {
  if (line >= IrqLineCount) return;
  ++deferred_[line];
  any_deferred_ = true;
  // Not busy: nothing of the machine is half-changed, so the interrupt can go out now.
  if (holds_ == 0) Hold hold(*this);
}

void IrqController::count_and_queue(unsigned line) {
  if (line >= IrqLineCount) return;
  ++counts_[line];
  if (listened(line)) ++taken_[line];
  for (IrqListener& listener : listeners_) {
    if (listener.line != line || queued_count_ == queued_.size()) continue;
    if (only_process_ != 0 && listener.process != only_process_) continue;
    queued_[(first_ + queued_count_++) % queued_.size()] = {listener.signal, listener.cookie, line};
    ++listener.signals;
  }
}

void IrqController::raise_deferred() {
  any_deferred_ = false;
  for (unsigned line = 0; line < IrqLineCount; ++line)
    for (unsigned pending = deferred_[line].exchange(0); pending; --pending) count_and_queue(line);
}

bool IrqController::take_signal(Signal& out) {
  if (queued_count_ == 0) return false;
  out = queued_[first_];
  first_ = (first_ + 1) % queued_.size();
  --queued_count_;
  return true;
}

// Each signal is taken off the queue before it is sent, since its handler may come back into the
// machine, raise more and send them in a nested call.
void IrqController::send_queued() {
  for (;;) {
    Signal next;
    ++holds_;
    raise_deferred();
    bool have = take_signal(next);
    --holds_;
    if (!have) {
      bool raised_meanwhile = std::any_of(deferred_.begin(), deferred_.end(), [](auto& d) { return d != 0; });
      if (!raised_meanwhile) return;
      continue;
    }
    send_driver_signal(next.signal, static_cast<std::int32_t>(next.cookie), static_cast<std::int32_t>(next.line));
  }
}

bool IrqController::listened(unsigned line) const {
  return std::any_of(listeners_.begin(), listeners_.end(), [line](const IrqListener& l) { return l.line == line; });
}

void IrqController::notify_watcher(unsigned line, bool listened_before) {
  if (line < IrqLineCount && watchers_[line] && listened(line) != listened_before)
    watchers_[line]->listened(!listened_before);
}

void IrqController::listen(const IrqListener& listener) {
  for (IrqListener& known : listeners_) {
    if (known.file == listener.file && known.process == listener.process && known.line == listener.line) {
      known.signal = listener.signal;
      known.cookie = listener.cookie;
      return;
    }
  }
  bool before = listened(listener.line);
  listeners_.push_back(listener);
  notify_watcher(listener.line, before);
}

bool IrqController::unlisten(std::uint32_t file, pid_t process, unsigned line) {
  auto found = std::find_if(listeners_.begin(), listeners_.end(), [&](const IrqListener& known) {
    return known.file == file && known.process == process && known.line == line;
  });
  if (found == listeners_.end()) return false;
  listeners_.erase(found);
  notify_watcher(line, true);
  return true;
}

void IrqController::release(std::uint32_t file) {
  std::array<bool, IrqLineCount> before{};
  for (unsigned line = 0; line < IrqLineCount; ++line) before[line] = listened(line);
  std::erase_if(listeners_, [&](const IrqListener& known) { return known.file == file; });
  for (unsigned line = 0; line < IrqLineCount; ++line) notify_watcher(line, before[line]);
}

}  // namespace ferrox::vpc
