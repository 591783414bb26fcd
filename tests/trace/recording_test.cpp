// SPDX-License-Identifier: MIT
// The recording format: what the writer writes reads back, in the order the calls were made; a
// file that is not a recording, or is one cut short or corrupted, is an error naming the place.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "ferrox/recording/recording_writer.h"
#include "tests/trace/recording_events.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using namespace recording_events;
using ferrox::recording::Kind;

std::vector<std::uint8_t> read_all(int fd) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[4096];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) bytes.insert(bytes.end(), buffer, buffer + got);
  return bytes;
}

TEST(Recording, WrittenEventsReadBackInTheOrderTheCallsWereMade) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ferrox::recording::FileHead head = ferrox::recording::file_head(ferrox::recording::RecordedOnVirtualPc, 5);
  ASSERT_EQ(write(ends[1], &head, sizeof head), static_cast<ssize_t>(sizeof head));
  ferrox::recording::RecordingWriter writer;
  writer.attach(ends[1]);
  // Call 1 raised a signal whose handler made call 2; both finished before call 1 did.
  ferrox::recording::Event first = open_event(0), outer = port_event(1, ferrox::Request::PortOutB, 0x378, 0x41, 0x41);
  ferrox::recording::Event signal = signal_event(2, 7, 9), nested = port_event(2, ferrox::Request::PortInB, 0x379, 0, 0xDF);
  for (const ferrox::recording::Event* event : {&first, &signal, &nested, &outer}) writer.write(event->head, event->sent, event->returned);
  close(ends[1]);
  std::vector<std::uint8_t> bytes = read_all(ends[0]);
  close(ends[0]);

  ferrox::Result<ferrox::recording::Recording> recording = ferrox::recording::parse_recording(bytes, "pipe");
  ASSERT_TRUE(recording.ok()) << recording.error().Text();
  EXPECT_TRUE(recording->on_virtual_pc());
  ASSERT_EQ(recording->events.size(), 4u);
  EXPECT_EQ(recording->events[0].kind(), Kind::Open);
  EXPECT_EQ(recording->events[1].head.sequence, 1u);
  EXPECT_EQ(recording->events[1].sent, outer.sent);
  EXPECT_EQ(recording->events[2].kind(), Kind::Signal);
  EXPECT_EQ(recording->events[3].returned, nested.returned);
  EXPECT_EQ(recording->call_count(), 3u);
}

TEST(Recording, WhatIsNotARecordingIsAnErrorNamingThePlace) {
  std::vector<std::uint8_t> good = file_bytes({open_event(0), port_event(1, ferrox::Request::PortInB, 0x379, 0, 0xDF)});
  auto error = [](std::vector<std::uint8_t> bytes) {
    ferrox::Result<ferrox::recording::Recording> read = ferrox::recording::parse_recording(bytes, "file.rec");
    return read ? std::string("read") : read.error().Text();
  };
  EXPECT_EQ(error({'n', 'o'}), "file.rec: not a ferrox recording");
  std::vector<std::uint8_t> later = good;
  later[8] = 2;
  EXPECT_EQ(error(later), "file.rec: recording format version 2; this ferrox reads 1");
  std::vector<std::uint8_t> cut(good.begin(), good.end() - 1);
  EXPECT_EQ(error(cut), "file.rec: event 2 at byte 96: the recording ends inside the event");
  std::vector<std::uint8_t> sized = good;
  sized[sizeof(ferrox::recording::FileHead)] += 1;  // the first event's size
  EXPECT_EQ(error(sized), "file.rec: event 1 at byte 24: the event's size 73 is not its head's and records'");
  std::vector<std::uint8_t> kind = good;
  kind[sizeof(ferrox::recording::FileHead) + 4] = 99;
  EXPECT_EQ(error(kind), "file.rec: event 1 at byte 24: unknown kind of event 99");
  for (std::uint32_t width : {0u, 3u, 8u, 0x40000000u}) {
    std::vector<std::uint8_t> port = file_bytes({open_event(0), trapped_event(1, Kind::PortIn, 0x379, 1, 0xDF)});
    std::memcpy(&port[96 + offsetof(ferrox::recording::EventHead, code)], &width, sizeof width);
    EXPECT_EQ(error(port), "file.rec: event 2 at byte 96: a port instruction of width " + std::to_string(width) +
                               "; widths are 1, 2 and 4");
  }
  std::vector<std::uint8_t> huge = good;
  huge[96 + offsetof(ferrox::recording::EventHead, sent_size) + 3] = 1;  // 16 MiB and more
  EXPECT_NE(error(huge).find("a record of more than 65552 bytes"), std::string::npos);
}

// A program that execs itself is one process with two images, each counting its calls from 0: the
// second image's calls come after the first's, none of them lost among the first's.
TEST(Recording, AnImageExecdComesAfterTheImageThatExecdIt) {
  std::vector<ferrox::recording::Event> events = {open_event(0), port_event(1, ferrox::Request::PortInB, 0x379, 0, 0x11),
                                                  close_event(2), open_event(0), port_event(1, ferrox::Request::PortInB, 0x379, 0, 0x22)};
  for (std::size_t index = 0; index < events.size(); ++index) events[index].head.image = index < 3 ? 500 : 900;
  ferrox::recording::Recording recording = recording_of(events);
  EXPECT_EQ(recording.process_count(), 1u);
  EXPECT_EQ(recording.image_count(), 2u);
  ASSERT_EQ(recording.events.size(), 5u);
  for (std::size_t index = 0; index < events.size(); ++index) {
    EXPECT_EQ(recording.events[index].head.image, events[index].head.image) << index;
    EXPECT_EQ(recording.events[index].head.sequence, events[index].head.sequence) << index;
  }
  EXPECT_EQ(recording.events[4].returned, events[4].returned);
}

// One event per process id: reading them costs in proportion to their number, not its square.
TEST(Recording, ReadingManyProcessesIsLinear) {
  auto seconds_to_read = [](std::int32_t processes) {
    std::vector<ferrox::recording::Event> events;
    for (std::int32_t process = 0; process < processes; ++process) {
      events.push_back(open_event(0));
      events.back().head.process = process + 1;
    }
    std::vector<std::uint8_t> bytes = file_bytes(events);
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
      auto start = std::chrono::steady_clock::now();
      ferrox::Result<ferrox::recording::Recording> recording = ferrox::recording::parse_recording(bytes, "many");
      EXPECT_EQ(recording->process_count(), static_cast<std::size_t>(processes));
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
  };
  double quarter = seconds_to_read(10000), whole = seconds_to_read(40000);
  EXPECT_LT(whole, 8 * quarter + 0.1) << "10,000 processes: " << quarter << " s; 40,000: " << whole << " s";
}

// The reader's fuzz target on its seeds and on many corruptions of a recording: nothing read
// outside the input (the sanitizer configuration sees it) and no crash.
TEST(Recording, ReaderFuzzTargetTakesItsSeedsAndCorruptions) {
  std::filesystem::path seeds = std::filesystem::path(FERROX_SOURCE_DIR) / "fuzz" / "corpus" / "recording";
  int seen = 0;
  for (const auto& seed : std::filesystem::directory_iterator(seeds)) {
    std::ifstream in(seed.path(), std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++seen;
  }
  EXPECT_GT(seen, 0);
  std::vector<std::uint8_t> good = file_bytes({open_event(0), port_event(1, ferrox::Request::PortInB, 0x379, 0, 0xDF),
                                               signal_event(2, 7, 1), close_event(2)});
  std::mt19937 random(18);
  for (int run = 0; run < 5000; ++run) {
    std::vector<std::uint8_t> bytes = good;
    for (int change = 0; change < 1 + run % 4; ++change) bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
    bytes.resize(bytes.size() - random() % 8);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
}

}  // namespace
