// SPDX-License-Identifier: MIT
// Loads modules with finit_module and unloads them with delete_module.
#include "common/kernel_module.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace e2e {

bool load_module(const char* name, const std::string& parameters) {
  int fd = ::open((std::string("/lib/modules/") + name + ".ko").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool loaded = ::syscall(SYS_finit_module, fd, parameters.c_str(), 0) == 0;
  ::close(fd);
  return loaded;
}

bool unload_module(const char* name) { return ::syscall(SYS_delete_module, name, O_NONBLOCK) == 0; }

bool write_sysfs(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return written;
}

}  // namespace e2e
