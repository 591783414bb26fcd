// SPDX-License-Identifier: MIT
// The process's I/O privilege: iopl, ioperm and which ports the process holds.
#include "ferrox/vpc/kernel/privilege.h"

#include <errno.h>

#include "ferrox/vpc/kernel/port_trap.h"

namespace ferrox::vpc {

void Privilege::reset(const PrivilegeDescription& description) {
  description_ = description;
  level_ = 0;
  ports_.reset();
}

int Privilege::finish(LogEntry& entry, int error) {
  entry.result = error ? -1 : 0;
  entry.error = error;
  if (log_.recording()) log_.add(entry);
  // Port instructions on held ports are carried out by the trap.
  if (!error && holds_any()) arm_fault_handler();
  if (error) errno = error;
  return error ? -1 : 0;
}

int Privilege::iopl(int level) {
  LogEntry entry;
  entry.event = Event::Iopl;
  entry.value = static_cast<std::uint32_t>(level);
  if (description_.iopl_error == ENOSYS) return finish(entry, ENOSYS);
  if (level < 0 || level > HighestLevel) return finish(entry, EINVAL);
  if (level > level_ && description_.iopl_error) return finish(entry, description_.iopl_error);
  level_ = level;
  return finish(entry, 0);
}

int Privilege::ioperm(unsigned long from, unsigned long count, int turn_on) {
  LogEntry entry;
  entry.event = Event::Ioperm;
  entry.port = static_cast<std::uint32_t>(from);
  entry.count = static_cast<std::uint32_t>(count);
  entry.value = static_cast<std::uint32_t>(turn_on);
  if (description_.ioperm_error == ENOSYS) return finish(entry, ENOSYS);
  // An empty range, or one that runs past the last port, is refused whatever the privilege.
  if (from + count <= from || from + count > PortCount) return finish(entry, EINVAL);
  if (turn_on && description_.ioperm_error) return finish(entry, description_.ioperm_error);
  for (unsigned long port = from; port < from + count; ++port) ports_[port] = turn_on != 0;
  return finish(entry, 0);
}

// At level 3 the processor checks no port at all, not even one past 0xFFFF that a word or double
// word at the top of the port space reaches; below it the ioperm bitmap ends at 0xFFFF.
bool Privilege::holds(std::uint32_t port, unsigned width) const {
  if (level_ == HighestLevel) return true;
  if (port + width > PortCount) return false;
  for (unsigned byte = 0; byte < width; ++byte)
    if (!ports_[port + byte]) return false;
  return true;
}

}  // namespace ferrox::vpc
