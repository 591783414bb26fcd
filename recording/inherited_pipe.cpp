// SPDX-License-Identifier: MIT
// Pipes handed down by the tool.
#include "ferrox/recording/inherited_pipe.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

namespace ferrox::recording {

std::string inherited_pipe_value(int fd) {
  struct stat status {};
  fstat(fd, &status);
  return std::to_string(fd) + ":" + std::to_string(status.st_ino);
}

int inherited_pipe(const char* variable) {
  const char* value = std::getenv(variable);
  int fd = -1;
  unsigned long long inode = 0;
  if (!value || std::sscanf(value, "%d:%llu", &fd, &inode) != 2) return -1;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode) || status.st_ino != inode) return -1;
  return fd;
}

}  // namespace ferrox::recording
