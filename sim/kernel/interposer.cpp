// SPDX-License-Identifier: MIT
// The C-library symbols through which a program reaches the operating system, defined ahead of the
// C library. "/dev/ferrox", its descriptors and I/O privilege go to the virtual PC; every other path
// and descriptor passes through untouched to the next definition (the C library's, or that of a
// layer between). Until the program opens the node or asks for I/O privilege the machine does not
// exist, and a close, ioctl or dup costs one load more than the C library's own.
//
// Built without _FILE_OFFSET_BITS, _TIME_BITS and _FORTIFY_SOURCE so that the plain names are
// the ones defined here; the 64-bit, time64 and fortified variants are defined explicitly.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <sys/io.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/kernel/next_symbol.h"
#include "ferrox/vpc/machine.h"

namespace vpc::next {

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

}  // namespace vpc::next

namespace {

using vpc::Machine;

unsigned mode_argument(int flags, va_list arguments) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, unsigned) : 0;
}

// A result in the kernel's convention given back in the C library's: errno is set only on failure,
// after the interrupts the call raised were signalled, so a handler that changes errno leaves its
// mark on a call that succeeds, as with a real driver.
int finish(long result) {
  if (vpc::is_error_result(result)) {
    errno = static_cast<int>(-result);
    return -1;
  }
  return static_cast<int>(result);
}

// The machine for a call that needs it started, or nullptr (said once on standard error) when the
// machine the environment describes could not be built.
Machine* started_machine() {
  const framework::Status& started = Machine::start();
  if (started) return &Machine::instance();
  static std::atomic<bool> said{false};
  if (!said.exchange(true)) {
    std::string line = "virtual PC: not started: " + started.error().Text() + "\n";
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, line.data(), line.size());
  }
  return nullptr;
}

int route_open(const char* path, int flags, unsigned mode, int dirfd = AT_FDCWD) {
  if (!vpc::DeviceNode::is_node_path(path)) return vpc::next::openat(dirfd, path, flags, mode);
  Machine* machine = started_machine();
  if (!machine) return finish(-ENODEV);
  return finish(machine->node().open(flags));
}

int route_ioctl(int fd, unsigned long request, void* argument) {
  Machine* machine = Machine::existing();
  if (!machine) return vpc::next::ioctl(fd, request, argument);
  std::optional<long> result;
  {
    // Interrupts raised while the request is served are signalled once it is done.
    vpc::IrqController::Hold hold(machine->irqs());
    result = machine->node().ioctl(fd, request, reinterpret_cast<std::uintptr_t>(argument));
  }
  return result ? finish(*result) : vpc::next::ioctl(fd, request, argument);
}

// The descriptor `target` is now a copy of `fd`, whatever either named before.
void follow_duplicate(int fd, int target) {
  if (Machine* machine = Machine::existing()) machine->node().duplicated(fd, target);
}

// The third argument is an int or a pointer, by command; as the C library does, it is passed on as
// a pointer, whose low bits are the int.
template <class Real>
int route_fcntl(Real real, int fd, int command, va_list arguments) {
  void* argument = va_arg(arguments, void*);
  int result = real(fd, command, argument);
  if (result >= 0 && (command == F_DUPFD || command == F_DUPFD_CLOEXEC)) follow_duplicate(fd, result);
  return result;
}

void follow_closing(unsigned first, unsigned last) {
  Machine* machine = Machine::existing();
  if (!machine || first > INT_MAX) return;
  machine->node().closed_from(static_cast<int>(first), last > INT_MAX ? INT_MAX : static_cast<int>(last));
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
  return route_open(path, flags, mode, dirfd);
}

VPC_API int close(int fd) {
  Machine* machine = Machine::existing();
  if (!machine || !machine->node().owns(fd)) return vpc::next::close(fd);
  vpc::IrqController::Hold hold(machine->irqs());
  return finish(machine->node().close(fd));
}

// The C library declares ioctl variadic (<sys/ioctl.h> is not included here). On i386 and x86_64
// a variadic call passes the third argument where a fixed one is read, so it is defined with the
// argument named, which spares every request the saving of registers that va_start does.
VPC_API int ioctl(int fd, unsigned long request, void* argument) noexcept { return route_ioctl(fd, request, argument); }

#if defined(__i386__)
// What glibc calls for ioctl in programs built with 64-bit time.
VPC_API int __ioctl_time64(int fd, unsigned long request, void* argument) noexcept {
  return route_ioctl(fd, request, argument);
}
#endif

VPC_API int dup(int fd) noexcept {
  int copy = vpc::next::dup(fd);
  if (copy >= 0) follow_duplicate(fd, copy);
  return copy;
}

VPC_API int dup2(int fd, int target) noexcept {
  int result = vpc::next::dup2(fd, target);
  if (result >= 0) follow_duplicate(fd, target);
  return result;
}

VPC_API int dup3(int fd, int target, int flags) noexcept {
  int result = vpc::next::dup3(fd, target, flags);
  if (result >= 0) follow_duplicate(fd, target);
  return result;
}

VPC_API int fcntl(int fd, int command, ...) {
  va_list arguments;
  va_start(arguments, command);
  int result = route_fcntl(vpc::next::fcntl, fd, command, arguments);
  va_end(arguments);
  return result;
}

VPC_API int fcntl64(int fd, int command, ...) {
  static auto real = vpc::next_symbol<int (*)(int, int, ...)>("fcntl64");
  va_list arguments;
  va_start(arguments, command);
  int result = route_fcntl(real, fd, command, arguments);
  va_end(arguments);
  return result;
}

#if defined(__i386__)
// What glibc calls for fcntl in programs built with 64-bit time.
VPC_API int __fcntl_time64(int fd, int command, ...) {
  static auto real = vpc::next_symbol<int (*)(int, int, ...)>("__fcntl_time64");
  va_list arguments;
  va_start(arguments, command);
  int result = route_fcntl(real, fd, command, arguments);
  va_end(arguments);
  return result;
}
#endif

VPC_API int close_range(unsigned first, unsigned last, int flags) noexcept {
  int result = vpc::next::close_range(first, last, flags);
  if (result == 0 && !(flags & CLOSE_RANGE_CLOEXEC)) follow_closing(first, last);
  return result;
}

VPC_API void closefrom(int first) noexcept {
  vpc::next::closefrom(first);
  follow_closing(first < 0 ? 0u : static_cast<unsigned>(first), UINT_MAX);
}

// I/O privilege: the virtual PC's kernel decides, and its trap carries out the port instructions.
VPC_API int iopl(int level) noexcept {
  Machine* machine = started_machine();
  return machine ? machine->privilege().iopl(level) : finish(-ENODEV);
}

VPC_API int ioperm(unsigned long from, unsigned long count, int turn_on) noexcept {
  Machine* machine = started_machine();
  return machine ? machine->privilege().ioperm(from, count, turn_on) : finish(-ENODEV);
}

}  // extern "C"
