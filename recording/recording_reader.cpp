// SPDX-License-Identifier: MIT
// Reading recordings: every size is checked against what is left before it is used, since a
// recording is outside input.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "ferrox/common/WholeFile.h"
#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/recording/recording.h"

namespace ferrox::recording {

namespace {

ferrox::Error fault(const std::string& where, const std::string& what) { return {what, 0, where}; }

bool known_kind(std::uint16_t kind) {
  return kind >= static_cast<std::uint16_t>(Kind::Open) && kind <= static_cast<std::uint16_t>(Kind::PortOut);
}

bool port_instruction(std::uint16_t kind) {
  return kind == static_cast<std::uint16_t>(Kind::PortIn) || kind == static_cast<std::uint16_t>(Kind::PortOut);
}

// Each process's place in the order in which the processes first appear, by process id.
std::unordered_map<std::int32_t, std::size_t> process_ranks(const std::vector<Event>& events) {
  std::unordered_map<std::int32_t, std::size_t> ranks;
  for (const Event& event : events) ranks.try_emplace(event.head.process, ranks.size());
  return ranks;
}

// A process's program image.
struct Image {
  std::int32_t process;
  std::uint64_t started;
  bool operator==(const Image&) const = default;
};
struct ImageHash {
  std::size_t operator()(const Image& image) const {
    return std::hash<std::uint64_t>{}(image.started) ^ std::hash<std::int32_t>{}(image.process);
  }
};

// Each image's place in the order in which the images first appear: an image exec'd writes
// nothing before the image that exec'd it has written its last.
std::unordered_map<Image, std::size_t, ImageHash> image_ranks(const std::vector<Event>& events) {
  std::unordered_map<Image, std::size_t, ImageHash> ranks;
  for (const Event& event : events) ranks.try_emplace(Image{event.head.process, event.head.image}, ranks.size());
  return ranks;
}

}  // namespace

FileHead file_head(std::uint32_t flags, std::uint64_t started) {
  FileHead head{};
  std::memcpy(head.magic, Magic, sizeof Magic);
  head.version = FormatVersion;
  head.flags = flags;
  head.started = started;
  return head;
}

std::uint32_t sent_record_size(std::uint32_t code, std::uint32_t window_count) {
  std::uint32_t size = ferrox::RecordSize(code, window_count);
  return code == ferrox::Request::ReadWindow ? std::min(size, ferrox::MemRecHeadSize) : size;
}

std::uint32_t returned_record_size(std::uint32_t code, std::uint32_t window_count) {
  std::uint32_t size = ferrox::RecordSize(code, window_count);
  return code == ferrox::Request::WriteWindow ? std::min(size, ferrox::MemRecHeadSize) : size;
}

ferrox::Result<std::size_t> read_event(std::span<const std::uint8_t> bytes, Event& event, const std::string& where) {
  if (bytes.size() < sizeof(EventHead)) return std::size_t{0};
  EventHead head;
  std::memcpy(&head, bytes.data(), sizeof head);
  if (head.sent_size > MaxRecordBytes || head.returned_size > MaxRecordBytes)
    return fault(where, "a record of more than " + std::to_string(MaxRecordBytes) + " bytes");
  if (head.size != sizeof head + head.sent_size + head.returned_size)
    return fault(where, "the event's size " + std::to_string(head.size) + " is not its head's and records'");
  if (!known_kind(head.kind)) return fault(where, "unknown kind of event " + std::to_string(head.kind));
  if (port_instruction(head.kind) && head.code != 1 && head.code != 2 && head.code != 4)
    return fault(where, "a port instruction of width " + std::to_string(head.code) + "; widths are 1, 2 and 4");
  if (bytes.size() < head.size) return std::size_t{0};
  const std::uint8_t* sent = bytes.data() + sizeof head;
  event.head = head;
  event.sent.assign(sent, sent + head.sent_size);
  event.returned.assign(sent + head.sent_size, sent + head.sent_size + head.returned_size);
  return std::size_t{head.size};
}

ferrox::Result<Recording> parse_recording(std::span<const std::uint8_t> bytes, const std::string& source) {
  Recording recording;
  if (bytes.size() < sizeof(FileHead) || std::memcmp(bytes.data(), Magic, sizeof Magic) != 0)
    return fault(source, "not a ferrox recording");
  std::memcpy(&recording.head, bytes.data(), sizeof recording.head);
  if (recording.head.version != FormatVersion)
    return fault(source, "recording format version " + std::to_string(recording.head.version) + "; this ferrox reads " +
                             std::to_string(FormatVersion));
  for (std::size_t at = sizeof(FileHead); at < bytes.size();) {
    std::string where = source + ": event " + std::to_string(recording.events.size() + 1) + " at byte " + std::to_string(at);
    Event event;
    ferrox::Result<std::size_t> read = read_event(bytes.subspan(at), event, where);
    if (!read) return read.error();
    if (*read == 0) return fault(where, "the recording ends inside the event");
    recording.events.push_back(std::move(event));
    at += *read;
  }
  order_events(recording.events);
  return recording;
}

ferrox::Result<Recording> load_recording(const std::string& path) {
  ferrox::Result<std::string> bytes = ferrox::ReadWholeFile(path, MaxRecordingBytes);
  if (!bytes) return fault(bytes.error().Source, "cannot be read: " + bytes.error().Message);
  return parse_recording(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()),
                        path == "-" ? "standard input" : path);
}

std::size_t Recording::process_count() const { return process_ranks(events).size(); }

std::size_t Recording::image_count() const { return image_ranks(events).size(); }

ferrox::Status Recording::replayable() const {
  if (std::size_t processes = process_count(); processes > 1)
    return ferrox::Error{"recorded from " + std::to_string(processes) + " processes; a replay takes one"};
  if (image_count() > 1)
    return ferrox::Error{"recorded from a program that exec'd another; a replay takes one program image"};
  return ferrox::Done{};
}

std::size_t Recording::call_count() const {
  return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), [](const Event& e) { return e.is_call(); }));
}

void order_events(std::vector<Event>& events) {
  // Processes and their images keep the order in which they first appear.
  std::unordered_map<Image, std::size_t, ImageHash> ranks = image_ranks(events);
  std::stable_sort(events.begin(), events.end(), [&ranks](const Event& a, const Event& b) {
    std::size_t ra = ranks.at({a.head.process, a.head.image}), rb = ranks.at({b.head.process, b.head.image});
    if (ra != rb) return ra < rb;
    if (a.head.sequence != b.head.sequence) return a.head.sequence < b.head.sequence;
    return !a.is_call() && b.is_call();
  });
}

}  // namespace ferrox::recording
