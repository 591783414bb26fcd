// SPDX-License-Identifier: MIT
// Fuzz target: the reader of recordings (outside input: ferrox replay and trace --from read them),
// and the decoding of every event it accepts, as the trace prints them and replay compares them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "ferrox/recording/event_decoding.h"
#include "ferrox/recording/recording.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ferrox::Result<ferrox::trace::Recording> recording = ferrox::trace::parse_recording(std::span(data, size), "input");
  if (!recording) return 0;
  for (const ferrox::trace::Event& event : recording->events) {
    ferrox::trace::Decoded decoded = ferrox::trace::decode(event);
    ferrox::trace::describe(decoded);
    ferrox::trace::is_poll(event);
  }
  return 0;
}
