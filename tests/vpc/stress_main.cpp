// SPDX-License-Identifier: MIT
// vpc_stress [--seeds N] [--first S]: seeded schedules of threads, forks, execs, signals and
// components created and destroyed, on the virtual PC. Each seed runs in a process of its own,
// which starts its own machine; a seed's schedule is the same on every run, so a failing one is
// repeated with --first S --seeds 1. The checks:
//   - the process ends by itself, well, within a bound (no crash, no hang);
//   - every interrupt raised on a line a component listens on is handled once by it, a forged
//     signal 44 by none;
//   - a port holds what was last written to it, on the driver's path and the direct one;
//   - a forked child's requests on the inherited descriptor are refused with EBADF, and so is an
//     image exec'd in it, whose open of the node is refused too, unless the child starts it on a
//     machine of its own (without VPC_MACHINE_PROCESS_VARIABLE), where it opens the node afresh;
//   - no descriptor is left open once the components are gone.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/control.h"
#include "ferrox/vpc/machine.h"
#include "tests/support/component.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto SeedBound = 20s;        // a seed's process that runs longer hangs
constexpr auto DeliveryBound = 5s;     // an interrupt not handled by then is lost
constexpr auto ChildBound = 10s;
constexpr ferrox::Byte Lines[] = {9, 10, 11, 12, 15};  // raised by the schedule alone
constexpr ferrox::Word DataLatch = 0x378;
constexpr const char* ExecArgument = "--exec-image";

thread_local bool blocks_44 = false;

[[noreturn]] void fail(unsigned seed, const std::string& what) {
  std::fprintf(stderr, "vpc_stress: seed %u: %s\n", seed, what.c_str());
  std::fflush(stderr);
  _exit(1);
}

// The child's wait status once it ended, or nothing when it did not within the bound (it is
// killed then).
std::optional<int> status_within(pid_t child, Clock::duration bound) {
  auto until = Clock::now() + bound;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() > until) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(1ms);
  }
  return status;
}

int open_descriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// A component listening on one line, with what it handled and what it should have.
struct Listener {
  Component component;
  ferrox::Byte line = 0;
  std::atomic<std::uint32_t> handled{0};
  std::uint32_t expected = 0;  // under the schedule's lock
  void OnIrq(ferrox::Word) { handled.fetch_add(1, std::memory_order_relaxed); }
};

// One seed's schedule, carried out by its threads. The operations share the module-wide records,
// so they take turns under one lock; the signals come whenever they come.
class Schedule {
 public:
  explicit Schedule(unsigned seed) : seed_(seed) {}

  void run() {
    std::mt19937 random(seed_);
    unsigned threads = 1 + random() % 3;
    std::vector<std::thread> workers;
    for (unsigned thread = 0; thread < threads; ++thread)
      workers.emplace_back([this, thread] { work(seed_ * 7919u + thread); });
    for (std::thread& worker : workers) worker.join();
    std::lock_guard turn(lock_);
    while (!living_.empty()) destroy(0);
  }

 private:
  void work(unsigned stream) {
    std::mt19937 random(stream);
    for (int step = 0; step < 40; ++step) {
      unsigned operation = random() % 10;
      if (operation == 8) {
        // The thread blocks or unblocks signal 44; the main thread never does, so it always
        // has a taker.
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, ferrox::InterruptSignal);
        blocks_44 = random() % 2;
        pthread_sigmask(blocks_44 ? SIG_BLOCK : SIG_UNBLOCK, &only, nullptr);
        continue;
      }
      std::lock_guard turn(lock_);
      switch (operation) {
        case 0: case 1: create(random); break;
        case 2: if (!living_.empty()) destroy(random() % living_.size()); break;
        case 3: case 4: raise(Lines[random() % std::size(Lines)]); break;
        case 5: ports(random); break;
        case 6: forked_child(); break;
        case 7: exec_image(random() % 2); break;
        case 9: forged_signal(); break;
      }
    }
  }

  void create(std::mt19937& random) {
    auto listener = std::make_unique<Listener>();
    listener->component = make_component();
    listener->component->OpenDriver();
    if (!listener->component->DriverActive()) fail(seed_, "OpenDriver failed");
    listener->line = Lines[random() % std::size(Lines)];
    listener->component->SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&Listener::OnIrq>(listener.get()));
    listener->component->UnmaskInterrupt(listener->line);
    living_.push_back(std::move(listener));
  }

  // Every interrupt it was sent is handled before it goes, once.
  void destroy(std::size_t index) {
    Listener& gone = *living_[index];
    auto until = Clock::now() + DeliveryBound;
    while (gone.handled.load() < gone.expected && Clock::now() < until) std::this_thread::sleep_for(1ms);
    std::uint32_t handled = gone.handled.load();
    std::uint32_t counted = gone.component->GetHandledCounter(gone.line);
    if (handled != gone.expected || counted != gone.expected)
      fail(seed_, "line " + std::to_string(gone.line) + ": " + std::to_string(handled) + " handled, " +
                      std::to_string(counted) + " counted, of " + std::to_string(gone.expected) + " raised");
    living_.erase(living_.begin() + static_cast<std::ptrdiff_t>(index));
  }

  void raise(ferrox::Byte line) {
    for (auto& listener : living_)
      if (listener->line == line) ++listener->expected;
    ferrox::vpc::Machine::instance().irqs().raise(line);
  }

  void ports(std::mt19937& random) {
    if (living_.empty()) return;
    ferrox::TFerrox32& component = *living_[random() % living_.size()]->component;
    component.fSetHardAccess(random() % 2);  // the direct path when the privilege is granted
    auto value = static_cast<ferrox::Byte>(random());
    component.fSetPortB(DataLatch, value);
    ferrox::Byte read = component.fGetPortB(DataLatch);
    if (read != value) fail(seed_, "port read " + std::to_string(read) + " after writing " + std::to_string(value));
  }

  // The child asks on its inherited descriptor only (a child of a threaded process may not take
  // the locks another thread held), and must be refused.
  void forked_child() {
    int node = living_.empty() ? -1 : living_.front()->component->DriverHandle();
    pid_t child = fork();
    if (child == 0) {
      int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, STDERR_FILENO);
      ferrox::TPortRecord record{DataLatch, 0x5A};
      bool refused = node < 0 || (ioctl(node, ferrox::Request::PortOutB, &record) == -1 && errno == EBADF);
      _exit(refused ? 0 : 3);
    }
    wait_for(child, "forked child");
  }

  // The new image gets the kept descriptor refused (or closed on exec), and its open of the node
  // refused while this process holds a machine, or served by a machine of its own.
  void exec_image(bool own_machine) {
    int node = living_.empty() ? -1 : living_.front()->component->DriverHandle();
    std::string descriptor = std::to_string(node);
    bool refused = !own_machine && ferrox::vpc::Machine::existing();
    pid_t child = fork();
    if (child == 0) {
      int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, STDERR_FILENO);
      if (own_machine) unsetenv(VPC_MACHINE_PROCESS_VARIABLE);
      execl("/proc/self/exe", "vpc_stress", ExecArgument, descriptor.c_str(), refused ? "refused" : "served",
            static_cast<char*>(nullptr));
      _exit(4);
    }
    wait_for(child, "exec'd image");
  }

  // Signal 44 from the program itself, carrying no component: every handler ignores it. Sent only
  // while a component has the signal's action installed, and taken by this thread before sigqueue
  // returns, so it never meets the default action.
  void forged_signal() {
    if (living_.empty() || blocks_44) return;
    sigval value{};
    value.sival_int = 0;
    sigqueue(getpid(), ferrox::InterruptSignal, value);
  }

  void wait_for(pid_t child, const char* what) {
    if (child < 0) fail(seed_, std::string("cannot start a ") + what);
    std::optional<int> status = status_within(child, ChildBound);
    if (!status) fail(seed_, std::string(what) + " hung");
    if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
      fail(seed_, std::string(what) + " ended with status " + std::to_string(*status));
  }

  unsigned seed_;
  std::recursive_mutex lock_;
  std::vector<std::unique_ptr<Listener>> living_;
};

// The exec'd image: its descriptor of the earlier image is not its machine's; a node it opens is
// refused where the seed's process holds a machine, and served on a machine of its own.
int exec_image_main(int kept, bool refused) {
  if (kept >= 0) {
    ferrox::TPortRecord record{DataLatch, 0};
    if (ioctl(kept, ferrox::Request::PortInB, &record) != -1 || errno != EBADF) return 5;
  }
  Component component = make_component();
  component->fSetHardAccess(false);
  component->OpenDriver();
  if (refused) return component->DriverActive() ? 8 : 0;
  if (!component->DriverActive()) return 6;
  component->fSetPortB(DataLatch, 0xC3);
  return component->fGetPortB(DataLatch) == 0xC3 ? 0 : 7;
}

int run_seed(unsigned seed) {
  int before = open_descriptors();
  Schedule(seed).run();
  int after = open_descriptors();
  if (after != before) fail(seed, std::to_string(after - before) + " descriptors left open");
  return 0;
}

// The seed in a process of its own, within the bound.
bool seed_passes(unsigned seed) {
  pid_t child = fork();
  if (child == 0) _exit(run_seed(seed));
  std::optional<int> status = status_within(child, SeedBound);
  if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) return true;
  if (!status) std::fprintf(stderr, "vpc_stress: seed %u: hung\n", seed);
  if (status && WIFSIGNALED(*status)) std::fprintf(stderr, "vpc_stress: seed %u: killed by signal %d\n", seed, WTERMSIG(*status));
  std::fprintf(stderr, "vpc_stress: seed %u failed (repeat: --first %u --seeds 1)\n", seed, seed);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], ExecArgument) == 0)
    return exec_image_main(std::atoi(argv[2]), std::strcmp(argv[3], "refused") == 0);
  unsigned first = 1, seeds = 10;
  auto number = [](const char* text) { return static_cast<unsigned>(std::strtoul(text, nullptr, 10)); };
  for (int i = 1; i < argc; ++i) {
    bool valued = i + 1 < argc;
    if (valued && std::strcmp(argv[i], "--seeds") == 0) {
      seeds = number(argv[++i]);
    } else if (valued && std::strcmp(argv[i], "--first") == 0) {
      first = number(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: vpc_stress [--seeds N] [--first S]\n");
      return 2;
    }
  }
  unsigned failed = 0;
  for (unsigned seed = first; seed < first + seeds; ++seed) failed += !seed_passes(seed);
  std::printf("vpc_stress: %u of %u seeds passed (from %u)\n", seeds - failed, seeds, first);
  return failed == 0 ? 0 : 1;
}
