// SPDX-License-Identifier: MIT
// Recordings of what a program sent to the driver and what came back: the format (a file head,
// then events), and its reader. docs/recording-format.md describes the format for other programs.
//
// Every value is little-endian. The file head is FileHead; each event is an EventHead followed by
// the bytes of the record as the program handed it over (sent) and as the driver left it
// (returned). Events are written as they finish, so a request whose signal handler made requests
// of its own follows them in the file; `sequence` gives the order in which they were made.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ferrox/common/Result.h"

namespace ferrox::recording {

constexpr char Magic[8] = {'F', 'E', 'R', 'R', 'O', 'X', 'R', 'C'};
constexpr std::uint32_t FormatVersion = 1;

// FileHead::flags
constexpr std::uint32_t RecordedOnVirtualPc = 1;  // trapped port instructions are in it

struct FileHead {
  char magic[8];
  std::uint32_t version;
  std::uint32_t flags;
  std::uint64_t started;  // CLOCK_MONOTONIC, ns: event times count from here
};
static_assert(sizeof(FileHead) == 24);

enum class Kind : std::uint16_t {
  Open = 1,  // of the device node: code = flags; result = the descriptor
  Close,     // of a descriptor of the node
  Request,   // an ioctl on a descriptor of the node: code; argument = the value of request 20
  Signal,    // the driver's signal: code = signal, argument = line (si_code), value = cookie (si_errno)
  Iopl,      // argument = level
  Ioperm,    // argument = first port, value = count, extra = turn_on
  PortIn,    // a port instruction the virtual PC trapped: code = width, argument = port,
  PortOut,   //   value = the value of a single transfer, extra = elements; data in returned / sent
};

struct EventHead {
  std::uint32_t size;  // of the whole event: head, sent and returned bytes
  std::uint16_t kind;
  std::uint16_t reserved;
  std::uint64_t time;      // CLOCK_MONOTONIC, ns: when the call was made or the signal came
  std::uint32_t sequence;  // the call's place among the process's calls; a signal's: the calls before it
  std::int32_t process;
  std::int32_t fd;
  std::uint32_t code;
  std::uint32_t argument;
  std::uint32_t value;
  std::uint32_t extra;
  std::int32_t result;  // as the C library gives it: -1 on failure
  std::int32_t error;   // errno when result is -1
  std::uint32_t sent_size;
  std::uint32_t returned_size;
  std::uint32_t duration;  // of the call, ns (at most 2^32 - 1)
  // The program image of the process that made the call: when its trace layer started
  // (CLOCK_MONOTONIC, ns). An exec starts another image, whose sequences count from 0 again.
  std::uint64_t image;
};
static_assert(sizeof(EventHead) == 72);

// No record crosses in bigger pieces than a whole TMemRec.
constexpr std::uint32_t MaxRecordBytes = 65552;
// The most a reader takes in: a recording is held whole in memory, and a pipe may never end.
constexpr std::size_t MaxRecordingBytes = std::size_t{256} << 20;

struct Event {
  EventHead head{};
  std::vector<std::uint8_t> sent;
  std::vector<std::uint8_t> returned;

  Kind kind() const { return static_cast<Kind>(head.kind); }
  bool is_call() const { return kind() != Kind::Signal; }
};

struct Recording {
  FileHead head{};
  // In the order the calls were made, each signal before the first call made after it; an image's
  // after the one that exec'd it.
  std::vector<Event> events;

  bool on_virtual_pc() const { return head.flags & RecordedOnVirtualPc; }
  std::size_t process_count() const;
  // The program images: a process's first and each one it exec'd.
  std::size_t image_count() const;
  // Whether a replay can answer it: it takes one process, and one program image.
  ferrox::Status replayable() const;
  std::size_t call_count() const;
};

// Reads one event from the front of `bytes`: its size, or 0 when `bytes` holds only part of one.
// `where` names the input in an error.
ferrox::Result<std::size_t> read_event(std::span<const std::uint8_t> bytes, Event& event, const std::string& where);

// A whole recording; `source` names it in errors ("FILE: event 3 at byte 88: ...").
ferrox::Result<Recording> parse_recording(std::span<const std::uint8_t> bytes, const std::string& source);
// The recording in a regular file or a pipe ("-" for standard input), of at most MaxRecordingBytes.
ferrox::Result<Recording> load_recording(const std::string& path);

// Puts events into the order of a recording: per process and program image, in the order they
// first appear, by sequence, a signal before the call of its sequence.
void order_events(std::vector<Event>& events);

FileHead file_head(std::uint32_t flags, std::uint64_t started);

// The bytes of a request's record that the program hands over (of a window read, only the head)
// and that it gets back (of a window write, only the head), by the driver contract.
std::uint32_t sent_record_size(std::uint32_t code, std::uint32_t window_count);
std::uint32_t returned_record_size(std::uint32_t code, std::uint32_t window_count);

}  // namespace ferrox::recording
