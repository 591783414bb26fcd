// The trace layer bound into this static program with the linker's --wrap (there is no preloading
// without a dynamic loader): the library's open, close, ioctl, iopl, ioperm and sigaction come to
// the layer, which hands them on to the C library's, here __real_...
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "ferrox/trace/trace_layer.h"
#include "ferrox/vpc/kernel/next_symbol.h"

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_close(int fd);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_iopl(int level);
int __real_ioperm(unsigned long from, unsigned long count, int turn_on);
int __real_sigaction(int signal, const struct sigaction* action, struct sigaction* old);

int __wrap_open(const char* path, int flags, unsigned mode) {
  return trace::layer::Route::open(path, flags, mode, AT_FDCWD);
}
int __wrap_close(int fd) { return trace::layer::Route::close(fd); }
int __wrap_ioctl(int fd, unsigned long request, void* argument) { return trace::layer::Route::ioctl(fd, request, argument); }
int __wrap_iopl(int level) { return trace::layer::Route::iopl(level); }
int __wrap_ioperm(unsigned long from, unsigned long count, int turn_on) {
  return trace::layer::Route::ioperm(from, count, turn_on);
}
int __wrap_sigaction(int signal, const struct sigaction* action, struct sigaction* old) {
  return trace::layer::sigaction(__real_sigaction, signal, action, old);
}
}

namespace vpc::next {

int open(const char* path, int flags, unsigned mode) { return __real_open(path, flags, mode); }
int openat(int dirfd, const char* path, int flags, unsigned mode) { return ::openat(dirfd, path, flags, mode); }
int close(int fd) { return __real_close(fd); }
int ioctl(int fd, unsigned long request, void* argument) { return __real_ioctl(fd, request, argument); }
int fcntl(int fd, int command, void* argument) { return ::fcntl(fd, command, argument); }
int dup(int fd) { return ::dup(fd); }
int dup2(int fd, int target) { return ::dup2(fd, target); }
int dup3(int fd, int target, int flags) { return ::dup3(fd, target, flags); }
int close_range(unsigned first, unsigned last, int flags) { return ::close_range(first, last, flags); }
void closefrom(int first) { ::closefrom(first); }
int iopl(int level) { return __real_iopl(level); }
int ioperm(unsigned long from, unsigned long count, int turn_on) { return __real_ioperm(from, count, turn_on); }
int sigaction(int signal, const struct sigaction* action, struct sigaction* old) {
  return __real_sigaction(signal, action, old);
}

}  // namespace vpc::next
