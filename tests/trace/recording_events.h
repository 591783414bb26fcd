// SPDX-License-Identifier: MIT
// Events of a recording made by hand, for the tests of the reader and of replay.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/recording/recording.h"

namespace recording_events {

template <class Record>
std::vector<std::uint8_t> bytes_of(const Record& record) {
  std::vector<std::uint8_t> bytes(sizeof record);
  std::memcpy(bytes.data(), &record, sizeof record);
  return bytes;
}

inline ferrox::recording::Event call(ferrox::recording::Kind kind, std::uint32_t sequence, std::int32_t result = 0) {
  ferrox::recording::Event event;
  event.head.kind = static_cast<std::uint16_t>(kind);
  event.head.sequence = sequence;
  event.head.result = result;
  event.head.process = 1;
  return event;
}

inline ferrox::recording::Event open_event(std::uint32_t sequence) { return call(ferrox::recording::Kind::Open, sequence, 3); }
inline ferrox::recording::Event close_event(std::uint32_t sequence) { return call(ferrox::recording::Kind::Close, sequence); }

inline ferrox::recording::Event port_event(std::uint32_t sequence, std::uint32_t code, std::uint32_t port, std::uint32_t sent_value,
                               std::uint32_t returned_value) {
  ferrox::recording::Event event = call(ferrox::recording::Kind::Request, sequence);
  event.head.code = code;
  event.sent = bytes_of(ferrox::TPortRecord{port, sent_value});
  event.returned = bytes_of(ferrox::TPortRecord{port, returned_value});
  return event;
}

inline ferrox::recording::Event irq_event(std::uint32_t sequence, std::uint32_t code, std::uint32_t line, std::uint32_t cookie) {
  ferrox::recording::Event event = call(ferrox::recording::Kind::Request, sequence);
  event.head.code = code;
  event.sent = event.returned = bytes_of(ferrox::TIrqRequest{1, ferrox::InterruptSignal, line, cookie});
  return event;
}

inline ferrox::recording::Event signal_event(std::uint32_t sequence, std::uint32_t line, std::uint32_t cookie) {
  ferrox::recording::Event event = call(ferrox::recording::Kind::Signal, sequence);
  event.head.code = ferrox::InterruptSignal;
  event.head.argument = line;
  event.head.value = cookie;
  return event;
}

// A port instruction the virtual PC trapped: a single transfer's value, or a string's elements.
inline ferrox::recording::Event trapped_event(std::uint32_t sequence, ferrox::recording::Kind kind, std::uint32_t port, std::uint32_t width,
                                  std::uint32_t value, std::vector<std::uint8_t> elements = {}) {
  ferrox::recording::Event event = call(kind, sequence);
  event.head.code = width;
  event.head.argument = port;
  event.head.value = value;
  event.head.extra = elements.empty() ? 1 : static_cast<std::uint32_t>(elements.size() / width);
  (kind == ferrox::recording::Kind::PortOut ? event.sent : event.returned) = std::move(elements);
  return event;
}

// The bytes of a recording file, events as given (written as they finished).
inline std::vector<std::uint8_t> file_bytes(const std::vector<ferrox::recording::Event>& events) {
  std::vector<std::uint8_t> bytes = bytes_of(ferrox::recording::file_head(0, 0));
  for (ferrox::recording::Event event : events) {
    event.head.sent_size = static_cast<std::uint32_t>(event.sent.size());
    event.head.returned_size = static_cast<std::uint32_t>(event.returned.size());
    event.head.size = static_cast<std::uint32_t>(sizeof event.head + event.sent.size() + event.returned.size());
    std::vector<std::uint8_t> head = bytes_of(event.head);
    bytes.insert(bytes.end(), head.begin(), head.end());
    bytes.insert(bytes.end(), event.sent.begin(), event.sent.end());
    bytes.insert(bytes.end(), event.returned.begin(), event.returned.end());
  }
  return bytes;
}

inline ferrox::recording::Recording recording_of(const std::vector<ferrox::recording::Event>& events) {
  return *ferrox::recording::parse_recording(file_bytes(events), "test");
}

}  // namespace recording_events
