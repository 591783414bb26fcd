// SPDX-License-Identifier: MIT
// Reads the kernel's log buffer.
#include "common/kernel_log.h"

#include <sys/klog.h>

#include <vector>

namespace e2e {

namespace {
constexpr int ReadAll = 3;  // syslog(2): read the whole ring buffer, leaving it as it is
}

std::string kernel_log() {
  std::vector<char> text(1 << 20);
  int length = klogctl(ReadAll, text.data(), static_cast<int>(text.size()));
  return length > 0 ? std::string(text.data(), static_cast<std::size_t>(length)) : std::string();
}

std::size_t kernel_log_count(const std::string& text) {
  std::string log = kernel_log();
  std::size_t count = 0;
  for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size())) ++count;
  return count;
}

}  // namespace e2e
