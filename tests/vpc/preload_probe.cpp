// SPDX-License-Identifier: MIT
// A program that knows nothing of the virtual PC, run with it preloaded: it uses descriptors, then
// waits in the ways a program waits, and says on standard error what was not as without the preload.
// With "--open-node" it also opens the device node and reports how that went; with "--requests" it
// makes many requests and checks that its memory stays what it was after the first thousand; with
// "--exec-keeping-node" it opens the node without O_CLOEXEC, execs itself and makes a request on the
// kept descriptor in the new image; with "--exec-in-child [own]" it opens the node and has a child
// run it again to open the node there (with "own", on a machine of its own).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/control.h"

namespace {

int faults = 0;

void fault(const char* what) {
  std::fprintf(stderr, "preload_probe: %s\n", what);
  ++faults;
}

double now() {
  timespec time{};
  clock_gettime(CLOCK_MONOTONIC, &time);
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

constexpr double Wait = 0.25;  // seconds, several ticks of an interval timer

void use_descriptors() {
  int copy = dup(STDERR_FILENO);
  if (copy < 0 || close(copy) != 0) fault("dup and close of an ordinary descriptor failed");
  termios terminal{};
  ioctl(STDIN_FILENO, TCGETS, &terminal);  // whatever stdin is, the kernel answers
}

void wait_every_way() {
  double start = now();
  timespec left{0, static_cast<long>(Wait * 1e9)};
  if (nanosleep(&left, nullptr) != 0) fault(errno == EINTR ? "nanosleep was interrupted" : "nanosleep failed");
  if (now() - start < Wait) fault("nanosleep returned early");
  start = now();
  if (poll(nullptr, 0, static_cast<int>(Wait * 1000)) != 0) fault(errno == EINTR ? "poll was interrupted" : "poll failed");
  if (now() - start < Wait) fault("poll returned early");
  start = now();
  if (usleep(static_cast<useconds_t>(Wait * 1e6)) != 0) fault("usleep was interrupted");
  if (now() - start < Wait) fault("usleep returned early");
}

// Nothing installed a handler the program did not install itself: not for the signals of a trap
// (SIGSEGV, SIGILL), nor for any real-time signal. (A sanitizer's runtime keeps others.)
void check_no_handlers() {
  for (int signal = 1; signal < NSIG; ++signal) {
    if (signal != SIGSEGV && signal != SIGILL && (signal < SIGRTMIN || signal > SIGRTMAX)) continue;
    struct sigaction action {};
    if (sigaction(signal, nullptr, &action) != 0) continue;
    bool handled = (action.sa_flags & SA_SIGINFO) || (action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN);
    if (handled) {
      std::fprintf(stderr, "preload_probe: a handler for signal %d\n", signal);
      ++faults;
    }
  }
}

void open_node() {
  int fd = open("/dev/ferrox", O_RDONLY);
  if (fd >= 0) {
    std::printf("opened\n");
    close(fd);
  } else {
    std::printf("refused: %s\n", std::strerror(errno));
  }
}

long resident_kib() {
  long size = 0, resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm || std::fscanf(statm, "%ld %ld", &size, &resident) != 2) resident = 0;
  if (statm) std::fclose(statm);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Port reads, and window reads of 16 KiB from the frame buffer, in the proportion of a program that
// polls a status port and now and then fetches a block.
void make_requests(int fd, ferrox::TMemRec& window, long rounds) {
  ferrox::TPortRecord port{0x379, 0};
  for (long round = 0; round < rounds; ++round) {
    ioctl(fd, ferrox::Request::PortInB, &port);
    if (round % 50 == 0) ioctl(fd, ferrox::Request::ReadWindow, &window);
  }
}

void check_memory_stays_flat() {
  int fd = open("/dev/ferrox", O_RDONLY);
  auto window = std::make_unique<ferrox::TMemRec>();
  window->PhysAddr = 0xFD000000;  // the frame buffer
  window->Count = 0x10000;
  if (fd < 0 || ioctl(fd, ferrox::Request::Map, window.get()) != 0) return fault("the device node or its window failed");
  window->Count = 0x4000;
  constexpr long First = 1000, All = 200000;
  make_requests(fd, *window, First);
  long after_first = resident_kib();
  make_requests(fd, *window, All - First);
  long grown = resident_kib() - after_first;
  std::printf("resident memory grew by %ld KiB in %ld requests\n", grown, All + All / 50 - First);
  if (grown > 1024) fault("the memory grew with the requests");
  close(fd);
}

// The request on the descriptor kept, in the new image: its result and errno.
int request_after_exec(const char* kept) {
  ferrox::TPortRecord port{0x379, 0};
  int result = ioctl(std::atoi(kept), ferrox::Request::PortInB, &port);
  std::printf("after exec: %d %s\n", result, result == 0 ? "" : std::strerror(errno));
  return 0;
}

int exec_keeping_node(char* self) {
  int fd = open("/dev/ferrox", O_RDONLY);
  ferrox::TPortRecord port{0x379, 0};
  if (fd < 0 || ioctl(fd, ferrox::Request::PortInB, &port) != 0) return fault("the device node failed"), 1;
  std::string kept = std::to_string(fd);
  char after[] = "--after-exec";
  char* arguments[] = {self, after, kept.data(), nullptr};
  execv(self, arguments);
  return fault("exec failed"), 1;
}

int exec_in_child(char* self, bool own_machine) {
  int fd = open("/dev/ferrox", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fault("the device node failed"), 1;
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    if (own_machine) unsetenv(VPC_MACHINE_PROCESS_VARIABLE);
    char only[] = "--open-node-only";
    char* arguments[] = {self, only, nullptr};
    execv(self, arguments);
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  close(fd);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--exec-keeping-node") == 0) return exec_keeping_node(argv[0]);
  if (argc > 2 && std::strcmp(argv[1], "--after-exec") == 0) return request_after_exec(argv[2]);
  if (argc > 1 && std::strcmp(argv[1], "--exec-in-child") == 0)
    return exec_in_child(argv[0], argc > 2 && std::strcmp(argv[2], "own") == 0);
  if (argc > 1 && std::strcmp(argv[1], "--open-node-only") == 0) return open_node(), 0;
  bool requests = argc > 1 && std::strcmp(argv[1], "--requests") == 0;
  if (requests) {
    check_memory_stays_flat();
    return faults == 0 ? 0 : 1;
  }
  use_descriptors();
  wait_every_way();
  check_no_handlers();
  if (argc > 1 && std::strcmp(argv[1], "--open-node") == 0) open_node();
  return faults == 0 ? 0 : 1;
}
