// SPDX-License-Identifier: MIT
// The session of tests/trace recorded on the reference driver by the trace layer that `ferrox
// record` preloads, here linked ahead of the C library and told where to write, and brought out to
// the host through a debug console port of the emulated PC, which QEMU writes to a file
// (e2e/run.sh: recording-<abi>.rec). The ordinary suite replays it on the virtual PC.
#include <fcntl.h>
#include <sys/io.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/check.h"
#include "ferrox/recording/recording.h"
#include "ferrox/recording/recording_writer.h"
#include "ferrox/trace/trace_layer.h"
#include "tests/trace/session.h"

namespace {

// One debug console port per ABI, agreed with e2e/run.sh (the firmware writes its own log to 0x402).
std::uint16_t recording_port() { return std::strcmp(scenarios::abi(), "x86_64") == 0 ? 0x4F8 : 0x4F9; }

bool send_out(const std::vector<std::uint8_t>& bytes) {
  std::uint16_t port = recording_port();
  if (ioperm(port, 1, 1) != 0) return false;
  for (std::uint8_t byte : bytes) outb(byte, port);
  return ioperm(port, 1, 0) == 0;
}

std::vector<std::uint8_t> read_back(const char* path) {
  std::vector<std::uint8_t> bytes;
  int fd = open(path, O_RDONLY);
  std::uint8_t buffer[4096];
  for (ssize_t got; fd >= 0 && (got = read(fd, buffer, sizeof buffer)) > 0;) bytes.insert(bytes.end(), buffer, buffer + got);
  if (fd >= 0) close(fd);
  return bytes;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const char* path = "/recording.rec";
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (!CHECK(fd >= 0)) return e2e::finish("recorded session");
  ferrox::recording::FileHead head = ferrox::recording::file_head(0, ferrox::recording::monotonic_ns());
  CHECK(write(fd, &head, sizeof head) == static_cast<ssize_t>(sizeof head));

  e2e::scenario("the session of the trace tests, recorded");
  ferrox::trace::layer::record_to(fd);
  auto* component = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  component->OpenDriver();
  CHECK(component->DriverActive());
  CHECK(session::run(*component, {}));
  component->CloseDriver();
  component->Free();
  ferrox::trace::layer::record_to(-1);
  close(fd);

  std::vector<std::uint8_t> recording = read_back(path);
  ferrox::Result<ferrox::recording::Recording> parsed = ferrox::recording::parse_recording(recording, path);
  if (CHECK(parsed.ok())) std::printf("recorded %zu calls, %zu bytes\n", parsed->call_count(), recording.size());
  CHECK(send_out(recording));
  return e2e::finish("recorded session");
}
