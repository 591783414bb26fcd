// SPDX-License-Identifier: MIT
// A scenario's work done in a forked child, which sends back a plain record of what it saw: checks
// made in the child would count nowhere.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

namespace contract {

// Ends the child with its record sent to the parent.
template <class Record>
[[noreturn]] void report_to_parent(int channel, const Record& record) {
  bool sent = ::write(channel, &record, sizeof record) == static_cast<ssize_t>(sizeof record);
  ::_exit(sent ? 0 : 1);
}

// Runs body(channel) in a child process, which ends with report_to_parent(channel, ...); answers
// whether the record arrived and the child ended well.
template <class Record, class Body>
bool record_of_a_child(Body body, Record& record) {
  int channel[2];
  if (::pipe(channel) != 0) return false;
  pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    body(channel[1]);
    ::_exit(1);  // the body did not report
  }
  ::close(channel[1]);
  bool received = child > 0 && ::read(channel[0], &record, sizeof record) == static_cast<ssize_t>(sizeof record);
  ::close(channel[0]);
  int status = 0;
  if (child > 0) ::waitpid(child, &status, 0);
  return received && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace contract
