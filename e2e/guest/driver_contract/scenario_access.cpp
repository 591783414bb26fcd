// SPDX-License-Identifier: MIT
// Who may open the driver: root with CAP_SYS_RAWIO, not root without it.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "common/check.h"
#include "scenarios.h"

namespace e2e {

void opening_needs_raw_io_capability() {
  scenario("opening needs CAP_SYS_RAWIO");
  pid_t child = ::fork();
  if (child == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0) ::_exit(2);
    data[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective &= ~CAP_TO_MASK(CAP_SYS_RAWIO);
    if (::syscall(SYS_capset, &header, data) != 0) ::_exit(3);
    int fd = ::open(ferrox::DriverDevicePath, O_RDONLY);
    ::_exit(fd < 0 && errno == EPERM ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  CHECK(WIFEXITED(status));
  CHECK_EQ(WEXITSTATUS(status), 0);
}

}  // namespace e2e
