// SPDX-License-Identifier: MIT
// The session as a program of its own, for the ferrox tool to trace, record and replay:
// trace_session [--changed] [--pause MS] [--extra-polls N] [--fork-child] [--closefrom]
// [--exec-self] [--shared-line] [--fork-windows N] [--fork-amid-events N], or trace_session
// --unreadable-record, which hands the driver a port record out of reach and expects EFAULT.
// --fork-child starts, once the driver is open, a child that only exits; --closefrom closes every
// descriptor from 3 up first, as a daemon does; --exec-self reads a port through the driver, then
// runs itself again without the option; --shared-line has a second component listen on the
// printer's line; --fork-windows N, instead of the session, has a forked child and its parent each
// read N windows of 60 KiB at once (the child as the program run again with --own-windows N, which
// reads them through a component of its own); --fork-amid-events N, instead of the session, forks
// N children while a thread reads windows of 4 KiB without pause, so that many forks come while
// that thread is writing an event: each child makes one request on the inherited
// descriptor (which the virtual PC refuses) and exits, and one that has not within 5 s hung.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "ferrox/framework/TComponent.h"
#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/control.h"
#include "tests/trace/session.h"

namespace {

bool unreadable_record(ferrox::TFerrox32& component) {
  auto* nowhere = reinterpret_cast<ferrox::TPortRecord*>(std::uintptr_t{8});
  bool refused = ioctl(component.DriverHandle(), ferrox::Request::PortInB, nowhere) == -1 && errno == EFAULT;
  std::printf("a record out of reach: %s\n", refused ? "EFAULT" : "not refused");
  return refused;
}

bool child_only_exits() {
  pid_t child = fork();
  if (child == 0) std::exit(0);
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool has_option(int argc, char** argv, const char* option) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], option) == 0) return true;
  return false;
}

// The first image's few calls, then the program again, as a new image of the same process.
[[noreturn]] void exec_self(int argc, char** argv) {
  auto* component = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  component->OpenDriver();
  for (int i = 0; i < 3; ++i) component->fGetPortB(0x379);
  component->CloseDriver();
  component->Free();
  std::vector<char*> again;
  for (int i = 0; i < argc; ++i)
    if (std::strcmp(argv[i], "--exec-self") != 0) again.push_back(argv[i]);
  again.push_back(nullptr);
  execv("/proc/self/exe", again.data());
  std::perror("exec");
  std::exit(1);
}

struct Listener {
  std::atomic<int> taken{0};
  void OnIrq(ferrox::Word) { taken.fetch_add(1); }
};

bool read_windows(ferrox::TFerrox32& component, int count) {
  static std::uint8_t window[60 * 1024];
  for (int i = 0; i < count; ++i) component.ReadPhysicalMemory(0xF0000, 0, sizeof window, window);
  return true;
}

bool own_windows(int count) {
  auto* component = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  component->OpenDriver();
  bool ok = component->DriverActive() && read_windows(*component, count);
  component->Free();
  return ok;
}

// Parent and child read windows at the same time, each event of them bigger than a pipe takes whole.
// The child runs the program again on a machine of its own and opens the node itself: the virtual
// PC's machine stays with the process that started it, and its descendants reach none.
bool fork_windows(ferrox::TFerrox32& component, const char* program, const char* count) {
  pid_t child = fork();
  if (child == 0) {
    unsetenv(VPC_MACHINE_PROCESS_VARIABLE);
    execl("/proc/self/exe", program, "--own-windows", count, static_cast<char*>(nullptr));
    std::_Exit(1);
  }
  read_windows(component, std::atoi(count));
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// True when the child ended by itself, well, within 5 s; one that did not is killed.
bool ended_well(pid_t child) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      std::printf("child %d hung\n", static_cast<int>(child));
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool fork_amid_events(ferrox::TFerrox32& component, int children) {
  std::atomic<bool> done{false};
  std::thread reader([&] {
    static std::uint8_t window[4096];
    while (!done.load()) component.ReadPhysicalMemory(0xF0000, 0, sizeof window, window);
  });
  int node = component.DriverHandle();
  bool ok = true;
  for (int i = 0; i < children; ++i) {
    pid_t child = fork();
    if (child == 0) {
      dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);  // the virtual PC says each refusal there
      ferrox::TPortRecord record{0x379, 0};
      ioctl(node, ferrox::Request::PortInB, &record);
      std::_Exit(0);
    }
    ok = child > 0 && ended_well(child) && ok;
  }
  done.store(true);
  reader.join();
  std::printf("%d children forked amid events\n", children);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (has_option(argc, argv, "--closefrom")) closefrom(3);
  if (has_option(argc, argv, "--exec-self")) exec_self(argc, argv);
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--own-windows") == 0) return own_windows(std::atoi(argv[i + 1])) ? 0 : 1;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--fork-windows") == 0) {
      auto* component = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
      component->OpenDriver();
      bool ok = component->DriverActive() && fork_windows(*component, argv[0], argv[i + 1]);
      component->Free();
      return ok ? 0 : 1;
    }
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--fork-amid-events") == 0) {
      auto* component = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
      component->OpenDriver();
      bool ok = component->DriverActive() && fork_amid_events(*component, std::atoi(argv[i + 1]));
      component->Free();
      std::fflush(stdout);
      return ok ? 0 : 1;
    }
  Listener listened;
  ferrox::TFerrox32* listener = nullptr;
  if (has_option(argc, argv, "--shared-line")) {
    listener = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
    listener->OpenDriver();
    listener->SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&Listener::OnIrq>(&listened));
    listener->UnmaskInterrupt(7);
  }
  auto* component = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  component->OpenDriver();
  bool ok = component->DriverActive();
  if (has_option(argc, argv, "--fork-child")) ok = ok && child_only_exits();
  if (argc > 1 && std::strcmp(argv[1], "--unreadable-record") == 0)
    ok = ok && unreadable_record(*component);
  else
    ok = ok && session::run(*component, session::parse_options(argc, argv));
  component->CloseDriver();
  component->Free();
  if (listener) {
    std::printf("the second component took %d interrupts\n", listened.taken.load());
    listener->Free();
  }
  std::fflush(stdout);
  return ok ? 0 : 1;
}
