// SPDX-License-Identifier: MIT
// A pipe that the ferrox tool hands to the program it runs, named in an environment variable as
// "FD:INODE": the descriptor is taken only while it still is that pipe, so one the program closed
// and reused for a file of its own is never written into.
#pragma once

#include <string>

namespace ferrox::recording {

// The pipe into which the trace layer writes the events of the program it is preloaded into.
constexpr const char* TracePipeVariable = "FERROX_TRACE_PIPE";

// The variable's value for the pipe end `fd`.
std::string inherited_pipe_value(int fd);

// The descriptor the variable names, or -1 when it is not set or no longer names that pipe.
int inherited_pipe(const char* variable);

}  // namespace ferrox::recording
