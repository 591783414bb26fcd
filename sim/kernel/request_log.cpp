// The virtual PC's log.
#include "ferrox/vpc/kernel/request_log.h"

namespace vpc {

std::vector<LogEntry> RequestLog::of(Event event) const {
  std::vector<LogEntry> selected;
  for (const LogEntry& entry : entries_)
    if (entry.event == event) selected.push_back(entry);
  return selected;
}

std::vector<std::uint32_t> RequestLog::request_numbers() const {
  std::vector<std::uint32_t> numbers;
  for (const LogEntry& entry : entries_)
    if (entry.event == Event::Request) numbers.push_back(entry.number());
  return numbers;
}

}  // namespace vpc
