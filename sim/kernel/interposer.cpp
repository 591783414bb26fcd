// The C-library symbols through which the library reaches the operating system, defined ahead of
// the C library. "/dev/ferrox" and its descriptors go to the virtual PC; every other path and
// descriptor passes through untouched to the real function.
//
// Built without _FILE_OFFSET_BITS, _TIME_BITS and _FORTIFY_SOURCE so that the plain names are
// the ones defined here; the 64-bit and fortified variants are defined explicitly.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/machine.h"
#include "ferrox/vpc/kernel/real_libc.h"

namespace vpc::real_libc {

namespace {

template <class Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

int open(const char* path, int flags, unsigned mode) {
  static auto real = next<int (*)(const char*, int, ...)>("open");
  return real(path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, unsigned mode) {
  static auto real = next<int (*)(int, const char*, int, ...)>("openat");
  return real(dirfd, path, flags, mode);
}

int close(int fd) {
  static auto real = next<int (*)(int)>("close");
  return real(fd);
}

int ioctl(int fd, unsigned long request, void* argument) {
  static auto real = next<int (*)(int, unsigned long, ...)>("ioctl");
  return real(fd, request, argument);
}

}  // namespace vpc::real_libc

namespace {

unsigned mode_argument(int flags, va_list arguments) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, unsigned) : 0;
}

int route_open(const char* path, int flags, unsigned mode) {
  if (vpc::DeviceNode::is_node_path(path)) return vpc::Machine::instance().node().open(path, flags);
  return vpc::real_libc::open(path, flags, mode);
}

int serve_ioctl(vpc::DeviceNode& node, int fd, unsigned long request, void* argument) {
  // Interrupts raised while the driver serves the request are signalled once it is done.
  vpc::IrqController::Hold hold(vpc::Machine::instance().irqs());
  return node.ioctl(fd, request, reinterpret_cast<std::uintptr_t>(argument));
}

int route_ioctl(int fd, unsigned long request, void* argument) {
  vpc::DeviceNode& node = vpc::Machine::instance().node();
  if (node.is_open(fd)) return serve_ioctl(node, fd, request, argument);
  // A closed descriptor of the node that nothing reopened: answer as the kernel would. (Under
  // qemu-user the kernel's own answer for an unknown descriptor is ENOSYS, not EBADF.)
  if (node.knows(fd) && fcntl(fd, F_GETFD) == -1) return serve_ioctl(node, fd, request, argument);
  return vpc::real_libc::ioctl(fd, request, argument);
}

}  // namespace

extern "C" {

VPC_API int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  unsigned mode = mode_argument(flags, arguments);
  va_end(arguments);
  return route_open(path, flags, mode);
}

VPC_API int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  unsigned mode = mode_argument(flags, arguments);
  va_end(arguments);
  return route_open(path, flags | O_LARGEFILE, mode);
}

VPC_API int __open_2(const char* path, int flags) { return route_open(path, flags, 0); }

VPC_API int __open64_2(const char* path, int flags) { return route_open(path, flags | O_LARGEFILE, 0); }

VPC_API int openat(int dirfd, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  unsigned mode = mode_argument(flags, arguments);
  va_end(arguments);
  if (vpc::DeviceNode::is_node_path(path)) return vpc::Machine::instance().node().open(path, flags);
  return vpc::real_libc::openat(dirfd, path, flags, mode);
}

VPC_API int close(int fd) {
  vpc::DeviceNode& node = vpc::Machine::instance().node();
  if (node.is_open(fd)) {
    vpc::IrqController::Hold hold(vpc::Machine::instance().irqs());
    return node.close(fd);
  }
  return vpc::real_libc::close(fd);
}

VPC_API int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  return route_ioctl(fd, request, argument);
}

#if defined(__i386__)
// What glibc calls for ioctl in programs built with 64-bit time.
VPC_API int __ioctl_time64(int fd, unsigned long request, ...) noexcept {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  return route_ioctl(fd, request, argument);
}
#endif

// I/O privilege: the virtual PC's kernel decides, and its trap carries out the port instructions.
VPC_API int iopl(int level) noexcept { return vpc::Machine::instance().privilege().iopl(level); }

VPC_API int ioperm(unsigned long from, unsigned long count, int turn_on) noexcept {
  return vpc::Machine::instance().privilege().ioperm(from, count, turn_on);
}

}  // extern "C"
