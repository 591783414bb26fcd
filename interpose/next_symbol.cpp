// SPDX-License-Identifier: MIT
// The next definitions of the interposed functions (next_symbol.h), for every layer that defines
// them.
#include "ferrox/interpose/next_symbol.h"

namespace ferrox::interpose::next {

int open(const char* path, int flags, unsigned mode) {
  static auto real = next_symbol<int (*)(const char*, int, ...)>("open");
  return real(path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, unsigned mode) {
  static auto real = next_symbol<int (*)(int, const char*, int, ...)>("openat");
  return real(dirfd, path, flags, mode);
}

int close(int fd) {
  static auto real = next_symbol<int (*)(int)>("close");
  return real(fd);
}

int ioctl(int fd, unsigned long request, void* argument) {
  static auto real = next_symbol<int (*)(int, unsigned long, ...)>("ioctl");
  return real(fd, request, argument);
}

int fcntl(int fd, int command, void* argument) {
  static auto real = next_symbol<int (*)(int, int, ...)>("fcntl");
  return real(fd, command, argument);
}

int dup(int fd) {
  static auto real = next_symbol<int (*)(int)>("dup");
  return real(fd);
}

int dup2(int fd, int target) {
  static auto real = next_symbol<int (*)(int, int)>("dup2");
  return real(fd, target);
}

int dup3(int fd, int target, int flags) {
  static auto real = next_symbol<int (*)(int, int, int)>("dup3");
  return real(fd, target, flags);
}

int close_range(unsigned first, unsigned last, int flags) {
  static auto real = next_symbol<int (*)(unsigned, unsigned, int)>("close_range");
  return real(first, last, flags);
}

void closefrom(int first) {
  static auto real = next_symbol<void (*)(int)>("closefrom");
  real(first);
}

int iopl(int level) {
  static auto real = next_symbol<int (*)(int)>("iopl");
  return real(level);
}

int ioperm(unsigned long from, unsigned long count, int turn_on) {
  static auto real = next_symbol<int (*)(unsigned long, unsigned long, int)>("ioperm");
  return real(from, count, turn_on);
}

// Called while a sanitizer's runtime starts, through the virtual PC's sigaction: nothing here
// may be instrumented, not even a guarded static.
namespace {
int (*real_sigaction)(int, const struct sigaction*, struct sigaction*) = nullptr;
}

__attribute__((no_sanitize_thread)) int sigaction(int signal, const struct sigaction* action, struct sigaction* old) {
  if (!real_sigaction)
    real_sigaction = reinterpret_cast<int (*)(int, const struct sigaction*, struct sigaction*)>(dlsym(RTLD_NEXT, "sigaction"));
  return real_sigaction(signal, action, old);
}

}  // namespace ferrox::interpose::next
