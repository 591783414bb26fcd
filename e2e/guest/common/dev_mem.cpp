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

// /dev/mem maps whole pages: those the range reaches.
bool dev_mem_maps(std::uint32_t phys, std::size_t size) {
  const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const std::uint64_t first = phys / page * page;
  const std::uint64_t length = (phys + size + page - 1) / page * page - first;
  int fd = ::open("/dev/mem", O_RDONLY);
  if (fd < 0) return false;
  void* mapped = ::mmap64(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off64_t>(first));
  ::close(fd);
  if (mapped == MAP_FAILED) return false;
  ::munmap(mapped, length);
  return true;
}

}  // namespace e2e
