// The C library's own open, close and ioctl, found behind the interposer with RTLD_NEXT.
#pragma once

namespace vpc::real_libc {

int open(const char* path, int flags, unsigned mode);
int openat(int dirfd, const char* path, int flags, unsigned mode);
int close(int fd);
int ioctl(int fd, unsigned long request, void* argument);

}  // namespace vpc::real_libc
