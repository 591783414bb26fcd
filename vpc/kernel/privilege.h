// SPDX-License-Identifier: MIT
// The process's I/O privilege as the kernel keeps it: the level set with iopl and the port bitmap
// set with ioperm. The machine description says whether raising and granting succeed; lowering and
// withdrawing always do, as with the kernel.
#pragma once

#include <bitset>
#include <cstdint>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/kernel/request_log.h"

namespace ferrox::vpc {

struct PrivilegeDescription {
  // errno of a refused raise (iopl) or grant (ioperm); 0 grants. EPERM is a process without the
  // privilege; ENOSYS is a kernel without I/O permission support, which refuses every call.
  int iopl_error = 0;
  int ioperm_error = 0;

  friend bool operator==(const PrivilegeDescription&, const PrivilegeDescription&) = default;
};

class VPC_API Privilege {
 public:
  static constexpr unsigned PortCount = 65536;
  static constexpr int HighestLevel = 3;

  explicit Privilege(RequestLog& log) : log_(log) {}

  // Nothing held, level 0.
  void reset(const PrivilegeDescription& description);

  // The C-library calls, with the C library's conventions (0, or -1 and errno); every call is logged.
  int iopl(int level);
  int ioperm(unsigned long from, unsigned long count, int turn_on);

  // May the process's port instructions reach port .. port + width - 1? Level 3 opens every port
  // (a transfer at the top of the port space included); below it each port needs its ioperm bit,
  // and nothing past 0xFFFF is open.
  bool holds(std::uint32_t port, unsigned width) const;
  bool holds_any() const { return level_ == HighestLevel || ports_.any(); }
  int level() const { return level_; }

 private:
  int finish(LogEntry& entry, int error);

  RequestLog& log_;
  PrivilegeDescription description_;
  int level_ = 0;
  std::bitset<PortCount> ports_;
};

}  // namespace ferrox::vpc
