// SPDX-License-Identifier: MIT
// Running the ferrox tool as a user runs it: the built program on the virtual PC, with what it
// prints on standard output and standard error, and its exit status.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace cli {

struct Outcome {
  int status = -1;
  std::string out, err;
};

inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A file in the test's temporary folder, named for this process so parallel tests keep apart.
inline std::filesystem::path TempFile(const std::string& name) {
  return std::filesystem::path(testing::TempDir()) / (name + "." + std::to_string(getpid()));
}

// A folder of this process's own in the test's temporary folder, for files that a machine file
// names relative to itself.
inline std::filesystem::path ScratchDirectory() {
  std::filesystem::path directory = TempFile("cli_test");
  std::filesystem::create_directories(directory);
  return directory;
}

// Runs a shell command line, capturing both streams.
inline Outcome Shell(const std::string& command) {
  std::filesystem::path err = TempFile("cli_test_err");
  Outcome run;
  FILE* pipe = popen((command + " 2>" + err.string()).c_str(), "r");
  char buffer[4096];
  for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, got);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadFile(err);
  std::filesystem::remove(err);
  return run;
}

inline Outcome Ferrox(const std::string& arguments) { return Shell(std::string(FERROX_TOOL) + " --virtual " + arguments); }

inline std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*x", digits, value);
  return text;
}

// A fault: the status given, nothing on standard output, and the message on standard error.
inline void ExpectFault(const std::string& arguments, const std::string& message, int status) {
  Outcome run = Ferrox(arguments);
  EXPECT_EQ(run.status, status) << arguments << "\n" << run.err;
  EXPECT_EQ(run.out, "") << arguments;
  EXPECT_NE(run.err.find("ferrox: " + message), std::string::npos) << arguments << "\n" << run.err;
}

// A command line that cannot be carried out: status 2, whether the parser or the command saw it.
inline void ExpectUsageFault(const std::string& arguments, const std::string& message) { ExpectFault(arguments, message, 2); }
// An operation that failed: status 1.
inline void ExpectFailure(const std::string& arguments, const std::string& message) { ExpectFault(arguments, message, 1); }

inline void ExpectOutput(const std::string& arguments, const std::string& output) {
  Outcome run = Ferrox(arguments);
  EXPECT_EQ(run.status, 0) << arguments << "\n" << run.err;
  EXPECT_EQ(run.out, output) << arguments;
}

}  // namespace cli
