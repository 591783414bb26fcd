// SPDX-License-Identifier: MIT
// Reading a whole input file (a recording, a file to print) with the C library's own calls, so that
// every failure is a reason to report rather than an exception from a stream. Only a regular file
// or a pipe is read, and no more than a limit: a directory, a device such as /dev/zero or an
// endless pipe would otherwise fail deep inside a stream or grow without end.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "ferrox/common/Result.h"

namespace ferrox {

// The bytes of the file named, or of standard input for "-"; an error whose message is the reason
// alone ("it is a directory"), its source the input ("standard input" for "-"), for the caller to word.
inline Result<std::string> ReadWholeFile(const std::string& name, std::size_t limit) {
  bool standard_input = name == "-";
  std::string source = standard_input ? "standard input" : name;
  int descriptor = standard_input ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor == -1) return Error{std::strerror(errno), 0, source};
  struct Closer {
    int descriptor;
    bool owned;
    ~Closer() {
      if (owned) ::close(descriptor);
    }
  } closer{descriptor, !standard_input};
  struct stat status{};
  if (fstat(descriptor, &status) != 0) return Error{std::strerror(errno), 0, source};
  if (S_ISDIR(status.st_mode)) return Error{"it is a directory", 0, source};
  if (!S_ISREG(status.st_mode) && !S_ISFIFO(status.st_mode))
    return Error{"it is neither a regular file nor a pipe", 0, source};
  std::string bytes;
  char buffer[65536];
  while (true) {
    ssize_t got = ::read(descriptor, buffer, sizeof buffer);
    if (got == 0) return bytes;
    if (got < 0) {
      if (errno == EINTR) continue;
      return Error{std::strerror(errno), 0, source};
    }
    if (bytes.size() + static_cast<std::size_t>(got) > limit)
      return Error{"it is longer than " + std::to_string(limit >> 20) + " MiB", 0, source};
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace ferrox
