// SPDX-License-Identifier: MIT
// Reading input with the C library's own calls, so that every failure is an errno to report
// rather than an exception from a stream.
#include "tools/ferrox/support/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ferrox_tool {

namespace {

ferrox::Error failure(const std::string& name, const char* reason) {
  return {"cannot read " + (name == "-" ? std::string("standard input") : name) + ": " + reason};
}

}  // namespace

ferrox::Result<std::string> read_input(const std::string& name) {
  int descriptor = name == "-" ? STDIN_FILENO : open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor == -1) return failure(name, std::strerror(errno));
  struct Closer {
    int descriptor;
    ~Closer() {
      if (descriptor != STDIN_FILENO) close(descriptor);
    }
  } closer{descriptor};
  struct stat status{};
  if (fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode)) return failure(name, "it is a directory");
  std::string bytes;
  char buffer[65536];
  while (true) {
    ssize_t got = read(descriptor, buffer, sizeof buffer);
    if (got == 0) return bytes;
    if (got > 0) bytes.append(buffer, static_cast<std::size_t>(got));
    else if (errno != EINTR) return failure(name, std::strerror(errno));
  }
}

}  // namespace ferrox_tool
