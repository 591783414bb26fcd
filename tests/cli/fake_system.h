// SPDX-License-Identifier: MIT
// A system's files in a folder of the test's own (/proc, /sys, /dev, /etc, /lib/modules), which the
// tool reads instead of this host's when FERROX_SYSTEM_ROOT names it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/cli/support.h"

namespace cli {

class FakeSystem {
 public:
  // A kernel 6.1.0-test on x86_64 without the module, run by root with every capability.
  FakeSystem() : root_(TempFile("fake_system")) {
    std::filesystem::remove_all(root_);
    write("/proc/sys/kernel/osrelease", "6.1.0-test\n");
    write("/proc/sys/kernel/arch", "x86_64\n");
    write("/proc/modules", "parport 73728 0 - Live 0x0000000000000000\n");
    write("/proc/self/status", "Name:\tferrox\nUid:\t0\t0\t0\t0\nGid:\t0\t0\t0\t0\nGroups:\t0 \nCapEff:\t000001ffffffffff\nSeccomp:\t0\n");
    write("/etc/passwd", "root:x:0:0:root:/root:/bin/bash\nann:x:1000:1000::/home/ann:/bin/bash\n");
    write("/sys/kernel/security/lockdown", "[none] integrity confidentiality\n");
  }
  ~FakeSystem() { std::filesystem::remove_all(root_); }
  FakeSystem(const FakeSystem&) = delete;
  FakeSystem& operator=(const FakeSystem&) = delete;

  void write(const std::string& path, const std::string& text) const {
    std::filesystem::path file = root_ / std::filesystem::path(path).relative_path();
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }
  void remove(const std::string& path) const { std::filesystem::remove(root_ / std::filesystem::path(path).relative_path()); }

  // The module loaded and its node made, as the package leaves them: the group ferrox, mode 0660.
  void load_module() const {
    write("/lib/modules/6.1.0-test/updates/dkms/ferrox.ko", "module");
    write("/proc/modules", "ferrox 24576 0 - Live 0x0000000000000000\n");
    make_node(0660);
  }
  // A regular file stands for the character device, which only root may make; what the tool reads
  // of it, the mode and the group, a file carries as a device does. The group is named ferrox in
  // /etc/group, whichever group the file got (998 where the test may give it away).
  void make_node(mode_t mode) const {
    std::filesystem::path node = root_ / "dev/ferrox";
    write("/dev/ferrox", "");
    chmod(node.c_str(), mode);
    [[maybe_unused]] int given = chown(node.c_str(), 0, 998);
    struct stat made {};
    stat(node.c_str(), &made);
    write("/etc/group", "root:x:0:\nferrox:x:" + std::to_string(made.st_gid) + ":\n");
  }
  unsigned node_group() const {
    struct stat made {};
    stat((root_ / "dev/ferrox").c_str(), &made);
    return made.st_gid;
  }

  std::string root() const { return root_.string(); }

  // The tool run on this system, without --virtual unless the arguments say it.
  Outcome Ferrox(const std::string& arguments) const {
    return Shell("env -u FERROX_VIRTUAL FERROX_SYSTEM_ROOT=" + root() + " " FERROX_TOOL " " + arguments);
  }

 private:
  std::filesystem::path root_;
};

}  // namespace cli
