// SPDX-License-Identifier: MIT
// Starting the program, reading its pipe, and waiting for it.
#include "tools/ferrox/support/program_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ferrox/recording/inherited_pipe.h"
#include "ferrox/vpc/control.h"

namespace ferrox_tool {

namespace {

// Well above the descriptors a program opens first, so that its own work rarely meets the pipe.
constexpr int HandedDescriptor = 250;

struct Pipe {
  int read = -1, write = -1;
  Pipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) == 0) read = ends[0], write = ends[1];
  }
  ~Pipe() {
    close_read();
    close_write();
  }
  void close_read() {
    if (read >= 0) close(read);
    read = -1;
  }
  void close_write() {
    if (write >= 0) close(write);
    write = -1;
  }
};

// In the child: errno of a failed start, to the parent.
[[noreturn]] void fail_start(int status, int error) {
  [[maybe_unused]] ssize_t written = write(status, &error, sizeof error);
  _exit(127);
}

// In the child: the environment, the pipe at its place, and exec; on failure errno goes to the
// parent through `status`, which the exec closes when it succeeds.
[[noreturn]] void start_child(const ProgramRun& run, int pipe_end, int status) {
  // Without close-on-exec, at HandedDescriptor or, under a lower descriptor limit, the lowest free
  // one above the standard three. A program that cannot be handed the pipe is not started: it
  // would run untraced.
  int handed = fcntl(pipe_end, F_DUPFD, HandedDescriptor);
  if (handed < 0) handed = fcntl(pipe_end, F_DUPFD, STDERR_FILENO + 1);
  if (handed < 0 && !run.pipe_variable.empty()) fail_start(status, errno);
  std::string preload;
  for (const std::string& library : run.preload) preload += (preload.empty() ? "" : ":") + library;
  if (const char* others = std::getenv("LD_PRELOAD"); others && *others) preload += ":" + std::string(others);
  if (!preload.empty()) setenv("LD_PRELOAD", preload.c_str(), 1);
  // The program runs on a machine of its own: the tool's, if it started one, serves nothing meanwhile.
  unsetenv(VPC_MACHINE_PROCESS_VARIABLE);
  for (const auto& [name, value] : run.environment) setenv(name.c_str(), value.c_str(), 1);
  if (handed >= 0 && !run.pipe_variable.empty())
    setenv(run.pipe_variable.c_str(), ferrox::recording::inherited_pipe_value(handed).c_str(), 1);
  std::vector<char*> argv;
  for (const std::string& argument : run.argv) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  fail_start(status, errno);
}

Ending ending(int status) {
  if (WIFEXITED(status))
    return WEXITSTATUS(status) == 0 ? Ending{} : "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
  return "ended";
}

}  // namespace

ferrox::Result<Ending> run_program(const ProgramRun& run, const std::function<void(std::span<const std::uint8_t>)>& received) {
  Pipe events, exec_status;
  if (events.read < 0 || exec_status.read < 0) return ferrox::Error{std::string("cannot make a pipe: ") + std::strerror(errno)};
  pid_t child = fork();
  if (child < 0) return ferrox::Error{std::string("cannot start a process: ") + std::strerror(errno)};
  if (child == 0) start_child(run, events.write, exec_status.write);
  events.close_write();
  exec_status.close_write();
  std::uint8_t buffer[65536];
  for (;;) {
    ssize_t got = read(events.read, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    received({buffer, static_cast<std::size_t>(got)});
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int exec_error = 0;
  if (read(exec_status.read, &exec_error, sizeof exec_error) == sizeof exec_error)
    return ferrox::Error{"cannot run " + run.argv[0] + ": " + std::strerror(exec_error)};
  return ending(status);
}

}  // namespace ferrox_tool
