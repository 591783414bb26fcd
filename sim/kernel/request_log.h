// The virtual PC's log: every open, close and request of the device node, every privilege call
// and every trapped port instruction, so tests can assert exactly what crossed the boundary.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ferrox/vpc/Export.h"

namespace vpc {

enum class Event {
  Open,     // of the device node; fd is the result
  Close,    // of a descriptor of the device node
  Request,  // an ioctl on a descriptor of the device node
  Iopl,     // value = level
  Ioperm,   // port = first port, count = number of ports, value = turn_on
  PortIn,   // a trapped port input instruction
  PortOut,  // a trapped port output instruction
};

struct VPC_API LogEntry {
  Event event = Event::Request;
  int fd = -1;
  std::string path;                // Open
  std::uint32_t code = 0;          // Request
  std::uintptr_t argument = 0;     // Request: the third ioctl argument as passed
  std::vector<std::uint8_t> sent;      // Request: the record as handed to the driver
  std::vector<std::uint8_t> returned;  // Request: the record as the driver left it
  std::uint32_t port = 0;          // PortIn/PortOut, Ioperm
  std::uint32_t width = 0;         // PortIn/PortOut: bytes per element
  std::uint32_t count = 0;         // PortIn/PortOut: elements (1 for single transfers), Ioperm
  std::uint32_t value = 0;         // PortIn/PortOut single value, Iopl level, Ioperm turn_on
  long result = 0;
  int error = 0;                   // errno when result is -1

  std::uint32_t number() const { return code & 0xFF; }

  // The sent or returned record as a driver-contract type.
  template <class Record>
  Record sent_as() const { return as<Record>(sent); }
  template <class Record>
  Record returned_as() const { return as<Record>(returned); }

 private:
  template <class Record>
  static Record as(const std::vector<std::uint8_t>& bytes) {
    Record record{};
    std::memcpy(&record, bytes.data(), bytes.size() < sizeof record ? bytes.size() : sizeof record);
    return record;
  }
};

class VPC_API RequestLog {
 public:
  void add(LogEntry entry) { entries_.push_back(std::move(entry)); }
  void clear() { entries_.clear(); }
  const std::vector<LogEntry>& entries() const { return entries_; }

  // The entries of one kind, in order.
  std::vector<LogEntry> of(Event event) const;
  // Driver requests only, in order.
  std::vector<LogEntry> requests() const { return of(Event::Request); }
  // Request numbers in order, for sequence assertions.
  std::vector<std::uint32_t> request_numbers() const;

 private:
  std::vector<LogEntry> entries_;
};

}  // namespace vpc
