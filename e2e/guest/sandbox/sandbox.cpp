// SPDX-License-Identifier: MIT
// Runs a program as a user's PC or a container would: as another user with the groups given,
// keeping CAP_SYS_RAWIO or not, and under a seccomp filter that refuses iopl and ioperm as a
// container's default profile does. The doctor's scenarios (e2e/guest/doctor/doctor.sh) run the tool
// through it:
//   sandbox [--user UID:GID[:GROUP,...]] [--raw-io] [--refuse-iopl] -- PROGRAM ARGS...
#include <grp.h>
#include <linux/audit.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

#ifdef __x86_64__
constexpr std::uint32_t ThisArch = AUDIT_ARCH_X86_64;
#else
constexpr std::uint32_t ThisArch = AUDIT_ARCH_I386;
#endif

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "sandbox: %s: %s\n", what, std::strerror(errno));
  std::exit(125);
}

struct User {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

User parse_user(const std::string& text) {
  User user;
  std::istringstream in(text);
  std::string field;
  std::getline(in, field, ':');
  user.uid = static_cast<uid_t>(std::stoul(field));
  std::getline(in, field, ':');
  user.gid = static_cast<gid_t>(std::stoul(field));
  while (std::getline(in, field, ',')) user.groups.push_back(static_cast<gid_t>(std::stoul(field)));
  return user;
}

// Capabilities survive the change of user only when asked to keep them; the ambient set carries
// CAP_SYS_RAWIO across exec, as a capability given to a program file would.
void become(const User& user, bool raw_io) {
  if (raw_io && prctl(PR_SET_KEEPCAPS, 1) != 0) fail("PR_SET_KEEPCAPS");
  if (setgroups(user.groups.size(), user.groups.data()) != 0) fail("setgroups");
  if (setgid(user.gid) != 0) fail("setgid");
  if (setuid(user.uid) != 0) fail("setuid");
  if (!raw_io) return;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  data[0].effective = data[0].permitted = data[0].inheritable = 1u << CAP_SYS_RAWIO;
  if (syscall(SYS_capset, &header, data) != 0) fail("capset");
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_SYS_RAWIO, 0, 0) != 0) fail("PR_CAP_AMBIENT_RAISE");
}

// iopl and ioperm fail with EPERM; every other call is let through.
void refuse_iopl() {
  sock_filter program[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ThisArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_iopl, 1, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_ioperm, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog filter{static_cast<unsigned short>(sizeof(program) / sizeof(program[0])), program};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) fail("PR_SET_NO_NEW_PRIVS");
  if (syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) != 0) fail("seccomp");
}

}  // namespace

int main(int argc, char** argv) {
  int at = 1;
  bool raw_io = false, seccomp = false;
  const char* user = nullptr;
  for (; at < argc && std::strcmp(argv[at], "--") != 0; ++at) {
    if (std::strcmp(argv[at], "--user") == 0 && at + 1 < argc)
      user = argv[++at];
    else if (std::strcmp(argv[at], "--raw-io") == 0)
      raw_io = true;
    else if (std::strcmp(argv[at], "--refuse-iopl") == 0)
      seccomp = true;
    else {
      std::fprintf(stderr, "sandbox: unknown option %s\n", argv[at]);
      return 125;
    }
  }
  if (at + 1 >= argc) {
    std::fprintf(stderr, "usage: sandbox [--user UID:GID[:GROUP,...]] [--raw-io] [--refuse-iopl] -- PROGRAM ARGS...\n");
    return 125;
  }
  if (user) become(parse_user(user), raw_io);
  if (seccomp) refuse_iopl();
  execv(argv[at + 1], argv + at + 1);
  fail(argv[at + 1]);
}
