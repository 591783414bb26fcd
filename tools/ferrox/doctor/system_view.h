// SPDX-License-Identifier: MIT
// The running system's files that say what stands between ferrox and the hardware (/proc, /sys,
// /dev, /etc, /lib/modules, /var/lib/dkms), read under a root that tests point at a tree of their own.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferrox_tool::doctor {

// Names the root the system's files are read under; "/" when unset.
constexpr const char* SystemRootVariable = "FERROX_SYSTEM_ROOT";

class SystemView final {
 public:
  explicit SystemView(std::filesystem::path root) : root_(std::move(root)) {}
  // This system's files, or the tree FERROX_SYSTEM_ROOT names.
  static SystemView of_this_system();

  // An absolute path of the system ("/proc/modules") under the root.
  std::filesystem::path at(std::string_view path) const;
  std::optional<std::string> read(std::string_view path) const;
  // The first line of a file, without its newline and trailing blanks (sysfs and /proc/sys values).
  std::optional<std::string> value(std::string_view path) const;
  std::optional<struct stat> status(std::string_view path) const;
  bool exists(std::string_view path) const { return status(path).has_value(); }
  // The names in a folder, sorted; none when it is not there.
  std::vector<std::string> entries(std::string_view path) const;
  // The bytes at an offset of a file (the BIOS data area through /dev/mem); none when they cannot be read.
  std::optional<std::string> read_at(std::string_view path, long offset, std::size_t count) const;

 private:
  std::filesystem::path root_;
};

// The value of "Key:\tvalue" in a file laid out as /proc/self/status.
std::optional<std::string> status_field(const std::string& text, std::string_view key);

// The lines of a text, without their newlines.
std::vector<std::string> lines_of(const std::string& text);

}  // namespace ferrox_tool::doctor
