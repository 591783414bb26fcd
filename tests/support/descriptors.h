// SPDX-License-Identifier: MIT
// The process's open descriptors, for leak checks.
#pragma once

#include <dirent.h>

inline int open_descriptor_count() {
  int count = 0;
  DIR* fds = opendir("/proc/self/fd");
  while (readdir(fds)) ++count;
  closedir(fds);
  return count;
}
