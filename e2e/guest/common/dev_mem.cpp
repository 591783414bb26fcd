// SPDX-License-Identifier: MIT
// Reads physical memory through /dev/mem.
#include "common/dev_mem.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace e2e {

std::vector<std::uint8_t> read_dev_mem(std::uint32_t phys, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  int fd = ::open("/dev/mem", O_RDONLY);
  if (fd < 0) return {};
  ssize_t got = ::pread(fd, bytes.data(), count, static_cast<off_t>(phys));
  ::close(fd);
  if (got != static_cast<ssize_t>(count)) return {};
  return bytes;
}

bool dev_mem_maps(std::uint32_t phys, std::size_t size) {
  int fd = ::open("/dev/mem", O_RDONLY);
  if (fd < 0) return false;
  void* mapped = ::mmap64(nullptr, size, PROT_READ, MAP_SHARED, fd, static_cast<off64_t>(phys));
  ::close(fd);
  if (mapped == MAP_FAILED) return false;
  ::munmap(mapped, size);
  return true;
}

}  // namespace e2e
