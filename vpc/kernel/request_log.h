// SPDX-License-Identifier: MIT
// The virtual PC's log, for tests: the opens, closes and requests of the device node, the privilege
// calls and the trapped port instructions, so a test can assert exactly what crossed the boundary.
//
// It is off until a test turns it on with a capacity, and then keeps at most that many entries:
// when full, the newest ones, with a count of those dropped. An entry has a fixed size (records are
// kept up to RecordCopy::Capacity bytes), so a long-running program's log never grows past its
// capacity, and with the log off nothing is recorded or allocated at all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "ferrox/vpc/Export.h"

namespace ferrox::vpc {

enum class Event {
  Open,     // of the device node; fd is the result
  Close,    // of a descriptor of the device node
  Request,  // an ioctl on a descriptor of the device node
  Iopl,     // value = level
  Ioperm,   // port = first port, count = number of ports, value = turn_on
  PortIn,   // a trapped port input instruction
  PortOut,  // a trapped port output instruction
};

// The first bytes of a request's record: all of every record but a window transfer's, of which the
// head and the first bytes of Data are kept.
class VPC_API RecordCopy {
 public:
  static constexpr std::size_t Capacity = 80;

  void assign(const std::uint8_t* bytes, std::size_t size) {
    size_ = size < Capacity ? static_cast<std::uint32_t>(size) : Capacity;
    std::memcpy(bytes_.data(), bytes, size_);
  }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::uint8_t operator[](std::size_t index) const { return bytes_[index]; }
  friend bool operator==(const RecordCopy& copy, const std::vector<std::uint8_t>& bytes) {
    return copy.size() == bytes.size() && std::memcmp(copy.data(), bytes.data(), bytes.size()) == 0;
  }

 private:
  std::array<std::uint8_t, Capacity> bytes_{};
  std::uint32_t size_ = 0;
};

struct VPC_API LogEntry {
  Event event = Event::Request;
  int fd = -1;
  std::string_view path;        // Open
  std::uint32_t code = 0;       // Request
  std::uintptr_t argument = 0;  // Request: the third ioctl argument as passed
  RecordCopy sent;              // Request: the record as handed to the driver
  RecordCopy returned;          // Request: the record as the driver left it
  std::uint32_t port = 0;       // PortIn/PortOut, Ioperm
  std::uint32_t width = 0;      // PortIn/PortOut: bytes per element
  std::uint32_t count = 0;      // PortIn/PortOut: elements (1 for single transfers), Ioperm
  std::uint32_t value = 0;      // PortIn/PortOut single value, Iopl level, Ioperm turn_on
  long result = 0;
  int error = 0;  // errno when result is -1

  std::uint32_t number() const { return code & 0xFF; }

  // The sent or returned record as a driver-contract type; bytes not kept read 0.
  template <class Record>
  Record sent_as() const {
    return as<Record>(sent);
  }
  template <class Record>
  Record returned_as() const {
    return as<Record>(returned);
  }

 private:
  template <class Record>
  static Record as(const RecordCopy& copy) {
    Record record{};
    std::memcpy(&record, copy.data(), copy.size() < sizeof record ? copy.size() : sizeof record);
    return record;
  }
};

class VPC_API RequestLog {
 public:
  // Starts recording afresh, keeping the newest `capacity` entries (0 turns the log off).
  void record(std::size_t capacity);
  bool recording() const { return capacity_ != 0; }
  // Empties the log; it goes on recording, or not, as before.
  void clear();

  // Callers that build an entry only for the log ask recording() first.
  void add(const LogEntry& entry);

  // The entries kept, oldest first, and how many were dropped to keep within the capacity.
  std::vector<LogEntry> entries() const;
  std::uint64_t dropped() const { return dropped_; }

  // The entries of one kind, in order.
  std::vector<LogEntry> of(Event event) const;
  // Driver requests only, in order.
  std::vector<LogEntry> requests() const { return of(Event::Request); }
  // Request numbers in order, for sequence assertions.
  std::vector<std::uint32_t> request_numbers() const;

 private:
  std::vector<LogEntry> ring_;  // grows to the capacity, then the oldest is overwritten
  std::size_t capacity_ = 0;
  std::size_t oldest_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace ferrox::vpc
