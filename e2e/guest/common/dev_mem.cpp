// Reads physical memory through /dev/mem.
#include "common/dev_mem.h"

#include <fcntl.h>
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

}  // namespace e2e
