// SPDX-License-Identifier: MIT
// The C library's own functions behind an interposer: the next definition of the same name in the
// lookup order (dlsym with RTLD_NEXT). A layer preloaded ahead of the virtual PC finds the virtual
// PC's definitions this way, and the virtual PC finds the C library's, or the real driver's path.
#pragma once

#include <dlfcn.h>
#include <signal.h>

namespace ferrox::interpose {

// The next definition of `name`, looked up once per call site.
template <class Function>
Function next_symbol(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The functions the interposers define, as the C library (or the layer below) defines them.
namespace next {

int open(const char* path, int flags, unsigned mode);
int openat(int dirfd, const char* path, int flags, unsigned mode);
int close(int fd);
int ioctl(int fd, unsigned long request, void* argument);
int fcntl(int fd, int command, void* argument);
int dup(int fd);
int dup2(int fd, int target);
int dup3(int fd, int target, int flags);
int close_range(unsigned first, unsigned last, int flags);
void closefrom(int first);
int iopl(int level);
int ioperm(unsigned long from, unsigned long count, int turn_on);
int sigaction(int signal, const struct sigaction* action, struct sigaction* old);

}  // namespace next

}  // namespace ferrox::interpose
