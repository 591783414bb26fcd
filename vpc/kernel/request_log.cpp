// SPDX-License-Identifier: MIT
// The virtual PC's log: a ring of fixed-size entries.
#include "ferrox/vpc/kernel/request_log.h"

namespace ferrox::vpc {

void RequestLog::record(std::size_t capacity) {
  ring_.clear();
  ring_.shrink_to_fit();
  capacity_ = capacity;
  oldest_ = 0;
  dropped_ = 0;
}

void RequestLog::clear() {
  ring_.clear();
  oldest_ = 0;
  dropped_ = 0;
}

void RequestLog::add(const LogEntry& entry) {
  if (!recording()) return;
  if (ring_.size() < capacity_) {
    ring_.push_back(entry);
    return;
  }
  ring_[oldest_] = entry;
  oldest_ = (oldest_ + 1) % capacity_;
  ++dropped_;
}

std::vector<LogEntry> RequestLog::entries() const {
  std::vector<LogEntry> ordered(ring_.begin() + static_cast<std::ptrdiff_t>(oldest_), ring_.end());
  ordered.insert(ordered.end(), ring_.begin(), ring_.begin() + static_cast<std::ptrdiff_t>(oldest_));
  return ordered;
}

std::vector<LogEntry> RequestLog::of(Event event) const {
  std::vector<LogEntry> selected;
  for (const LogEntry& entry : entries())
    if (entry.event == event) selected.push_back(entry);
  return selected;
}

std::vector<std::uint32_t> RequestLog::request_numbers() const {
  std::vector<std::uint32_t> numbers;
  for (const LogEntry& entry : entries())
    if (entry.event == Event::Request) numbers.push_back(entry.number());
  return numbers;
}

}  // namespace ferrox::vpc
