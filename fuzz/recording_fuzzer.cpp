// SPDX-License-Identifier: MIT
// Fuzz target: the reader of recordings (outside input: ferrox replay and trace --from read them),
// and the decoding of every event it accepts, as the trace prints them and replay compares them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "ferrox/recording/event_decoding.h"
#include "ferrox/recording/recording.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ferrox::Result<ferrox::recording::Recording> recording = ferrox::recording::parse_recording(std::span(data, size), "input");
  if (!recording) return 0;
  for (const ferrox::recording::Event& event : recording->events) {
    ferrox::recording::Decoded decoded = ferrox::recording::decode(event);
    ferrox::recording::describe(decoded);
    ferrox::recording::is_poll(event);
  }
  return 0;
}
