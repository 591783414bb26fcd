// SPDX-License-Identifier: MIT
// Running another program under the tool: with libraries preloaded ahead of the user's, a pipe it
// writes into (named to it in an environment variable, see recording/inherited_pipe.h), and its fate.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ferrox/common/Result.h"

namespace ferrox_tool {

struct ProgramRun {
  std::vector<std::string> argv;                               // the program (looked up on PATH) and its arguments
  std::vector<std::string> preload;                            // ahead of whatever LD_PRELOAD holds
  std::vector<std::pair<std::string, std::string>> environment;
  std::string pipe_variable;                                   // names the pipe to the program
};

// How the program ended: "" when it exited with status 0, else what happened ("exited with status
// 3", "was killed by signal 11").
using Ending = std::string;

// Runs the program, handing what it writes into the pipe to `received` as it comes, until the
// program and everything holding the pipe are gone. An error when it cannot be started.
ferrox::Result<Ending> run_program(const ProgramRun& run, const std::function<void(std::span<const std::uint8_t>)>& received);

}  // namespace ferrox_tool
