// SPDX-License-Identifier: MIT
// The trace pipe: processes that write events bigger than a pipe takes whole, at the same time,
// each get their events through whole; an event cut off, or frames that are not, are faults.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "ferrox/recording/recording_writer.h"
#include "ferrox/recording/trace_pipe.h"
#include "tests/trace/recording_events.h"

namespace {

using namespace recording_events;
using ferrox::recording::FrameHead;
using ferrox::recording::TracePipeReader;

// A window read of 60 KiB, every byte of its data `fill`.
ferrox::recording::Event window_event(std::uint32_t sequence, std::uint8_t fill) {
  ferrox::recording::Event event = call(ferrox::recording::Kind::Request, sequence);
  event.head.code = ferrox::Request::ReadWindow;
  event.returned.assign(ferrox::MemRecHeadSize + 60 * 1024, fill);
  return event;
}

std::vector<std::uint8_t> frame(std::int32_t process, std::uint16_t flags, std::span<const std::uint8_t> bytes) {
  FrameHead head{process, static_cast<std::uint16_t>(bytes.size()), flags};
  std::vector<std::uint8_t> framed(sizeof head + bytes.size());
  std::memcpy(framed.data(), &head, sizeof head);
  std::ranges::copy(bytes, framed.begin() + sizeof head);
  return framed;
}

TEST(TracePipe, ProcessesWritingAtOnceEachGetTheirEventsThroughWhole) {
  constexpr int Processes = 3, Events = 40;
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ferrox::recording::RecordingWriter writer;
  writer.attach(ends[1], ferrox::recording::RecordingWriter::Framing::Frames);
  std::vector<pid_t> children;
  for (int child = 0; child < Processes; ++child) {
    pid_t made = fork();
    if (made == 0) {
      for (std::uint32_t sequence = 0; sequence < Events; ++sequence) {
        ferrox::recording::Event event = window_event(sequence, static_cast<std::uint8_t>(getpid()));
        event.head.process = getpid();
        writer.write(event.head, event.sent, event.returned);
      }
      _exit(0);
    }
    children.push_back(made);
  }
  close(ends[1]);
  std::map<std::int32_t, std::uint32_t> next;
  int wrong = 0;
  TracePipeReader reader([&](ferrox::recording::Event event, std::span<const std::uint8_t>) {
    bool filled = std::ranges::all_of(event.returned, [&](std::uint8_t byte) { return byte == static_cast<std::uint8_t>(event.head.process); });
    wrong += !filled || event.head.sequence != next[event.head.process]++;
  });
  std::uint8_t buffer[65536];
  for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;) reader.add({buffer, static_cast<std::size_t>(got)});
  close(ends[0]);
  for (pid_t child : children) waitpid(child, nullptr, 0);
  EXPECT_TRUE(reader.end().ok()) << reader.end().error().Text();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(next.size(), static_cast<std::size_t>(Processes));
  for (const auto& [process, count] : next) EXPECT_EQ(count, static_cast<std::uint32_t>(Events)) << process;
}

TEST(TracePipe, FramesComeInAnyPiecesButAnEventCutOffIsAFault) {
  std::vector<std::uint8_t> event = file_bytes({open_event(0)});
  event.erase(event.begin(), event.begin() + sizeof(ferrox::recording::FileHead));
  std::span<const std::uint8_t> whole(event);
  std::vector<std::uint8_t> bytes = frame(7, ferrox::recording::FrameStartsEvent, whole.first(10));
  std::vector<std::uint8_t> other = frame(8, ferrox::recording::FrameStartsEvent, whole);
  std::vector<std::uint8_t> rest = frame(7, 0, whole.subspan(10));
  bytes.insert(bytes.end(), other.begin(), other.end());
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  int taken = 0;
  TracePipeReader reader([&](ferrox::recording::Event, std::span<const std::uint8_t>) { ++taken; });
  for (std::uint8_t byte : bytes) reader.add({&byte, 1});
  EXPECT_EQ(taken, 2);
  EXPECT_TRUE(reader.end().ok());

  // Process 7 starts another event before the first is whole: it was exec'd or killed while writing.
  std::vector<std::uint8_t> cut = frame(7, ferrox::recording::FrameStartsEvent, whole.first(10));
  std::vector<std::uint8_t> again = frame(7, ferrox::recording::FrameStartsEvent, whole);
  cut.insert(cut.end(), again.begin(), again.end());
  TracePipeReader cut_reader([](ferrox::recording::Event, std::span<const std::uint8_t>) {});
  cut_reader.add(cut);
  EXPECT_EQ(cut_reader.end().error().Message, "the trace holds an event of process 7 cut off");

  TracePipeReader unfinished([](ferrox::recording::Event, std::span<const std::uint8_t>) {});
  unfinished.add(frame(7, ferrox::recording::FrameStartsEvent, whole.first(10)));
  EXPECT_EQ(unfinished.end().error().Message, "the trace ends inside an event");

  std::vector<std::uint8_t> oversized = bytes_of(FrameHead{7, static_cast<std::uint16_t>(ferrox::recording::FrameBytes), 1});
  TracePipeReader oversized_reader([](ferrox::recording::Event, std::span<const std::uint8_t>) {});
  oversized_reader.add(oversized);
  EXPECT_EQ(oversized_reader.end().error().Message, "the trace holds a frame of 4096 bytes");
}

}  // namespace
