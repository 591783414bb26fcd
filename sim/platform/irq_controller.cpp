// The IRQ lines: counting, listeners and the signals they are sent.
#include "ferrox/vpc/platform/irq_controller.h"

#include <errno.h>

#include <algorithm>

#include "ferrox/vpc/kernel/signal_delivery.h"

namespace vpc {

IrqController::Hold::Hold(IrqController& controller) : controller_(controller) { ++controller_.holds_; }

IrqController::Hold::~Hold() {
  if (--controller_.holds_ != 0) return;
  // The request's errno was set before its signals go out, whatever their handlers do; with a
  // real driver the signals come before the C library sets it.
  int request_errno = errno;
  controller_.send_queued();
  errno = request_errno;
}

void IrqController::reset() {
  Hold hold(*this);
  counts_.fill(0);
  taken_.fill(0);
  listeners_.clear();
  first_ = queued_count_ = 0;
  for (auto& deferred : deferred_) deferred = 0;
}

void IrqController::raise(unsigned line) {
  Hold hold(*this);
  count_and_queue(line);
}

void IrqController::raise_from_signal(unsigned line) {
  if (line >= IrqLineCount) return;
  ++deferred_[line];
  // Not busy: nothing of the machine is half-changed, so the interrupt can go out now.
  if (holds_ == 0) Hold hold(*this);
}

void IrqController::count_and_queue(unsigned line) {
  if (line >= IrqLineCount) return;
  ++counts_[line];
  if (std::any_of(listeners_.begin(), listeners_.end(), [line](const IrqListener& l) { return l.line == line; }))
    ++taken_[line];
  for (IrqListener& listener : listeners_) {
    if (listener.line != line || queued_count_ == queued_.size()) continue;
    queued_[(first_ + queued_count_++) % queued_.size()] = {listener.signal, listener.cookie, line};
    ++listener.signals;
  }
}

void IrqController::raise_deferred() {
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
    send_signal_to_this_thread(next.signal, static_cast<std::int32_t>(next.cookie), static_cast<std::int32_t>(next.line));
  }
}

void IrqController::listen(const IrqListener& listener) {
  for (IrqListener& known : listeners_) {
    if (known.descriptor == listener.descriptor && known.process == listener.process && known.line == listener.line) {
      known.signal = listener.signal;
      known.cookie = listener.cookie;
      return;
    }
  }
  listeners_.push_back(listener);
}

bool IrqController::unlisten(int descriptor, pid_t process, unsigned line) {
  auto found = std::find_if(listeners_.begin(), listeners_.end(), [&](const IrqListener& known) {
    return known.descriptor == descriptor && known.process == process && known.line == line;
  });
  if (found == listeners_.end()) return false;
  listeners_.erase(found);
  return true;
}

void IrqController::release(int descriptor) {
  std::erase_if(listeners_, [&](const IrqListener& known) { return known.descriptor == descriptor; });
}

}  // namespace vpc
