// SPDX-License-Identifier: MIT
// The driver fuzzer: random requests to /dev/ferrox from this process and from forked children that
// inherit its descriptors, while another process makes line 7 interrupt (the parallel port raises
// its interrupt at each control write with the interrupt enabled, and drops it at a status read).
// Bounded in requests and in time; it prints how many requests it sent and the seed that repeats
// the run (FERROX_FUZZ_SEED). The kernel's log, the lines and windows left behind and the module's
// unloading are checked by /init once every program ran; here a fixed valid scenario must still
// pass afterwards.
#include <dirent.h>
#include <signal.h>
#include <sys/io.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/check.h"
#include "fuzz/request_fuzzer.h"
#include "tests/contract/contract_scenarios.h"
#include "tests/contract/driver.h"
#include "tests/contract/parallel_port.h"

namespace {

namespace lpt = contract::lpt;

// The run's goal and time limit, which FERROX_FUZZ_REQUESTS and FERROX_FUZZ_SECONDS raise for the
// long run (make fuzz); it must send at least MinimumRequests.
constexpr std::uint32_t Requests = 120000;
constexpr std::uint32_t MinimumRequests = 100000;
constexpr std::uint64_t TimeLimitSeconds = 120;
constexpr std::uint64_t ForkOneIn = 4000;  // steps
constexpr int ChildSteps = 600;
constexpr int MostChildren = 2;
constexpr int StepsBetweenDrains = 1024;
constexpr int InterruptPauseUs = 200;
constexpr int InterruptLineRegister = 0x3C;

std::uint64_t seed_of_this_run() {
  if (const char* given = std::getenv("FERROX_FUZZ_SEED")) return std::strtoull(given, nullptr, 10);
  return static_cast<std::uint64_t>(::time(nullptr));
}

// A bound from the environment where it names a larger one.
std::uint64_t at_least(const char* variable, std::uint64_t bound) {
  const char* given = std::getenv(variable);
  return given ? std::max<std::uint64_t>(bound, std::strtoull(given, nullptr, 10)) : bound;
}

// The devfn numbers of the functions on bus 0, from the kernel's list of devices.
std::vector<std::uint8_t> functions_on_bus_0() {
  std::vector<std::uint8_t> devfns;
  DIR* devices = ::opendir("/sys/bus/pci/devices");
  while (dirent* entry = devices ? ::readdir(devices) : nullptr) {
    unsigned domain, bus, device, function;
    if (std::sscanf(entry->d_name, "%x:%x:%x.%x", &domain, &bus, &device, &function) == 4 && domain == 0 && bus == 0)
      devfns.push_back(static_cast<std::uint8_t>(device << 3 | function));
  }
  if (devices) ::closedir(devices);
  return devfns;
}

// Every signal the driver may be asked to send: blocked, so that they queue, and drained now and
// then.
sigset_t program_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal = 34; signal <= 64; ++signal) sigaddset(&set, signal);
  return set;
}

long drain(const sigset_t& signals) {
  long taken = 0;
  timespec none{0, 0};
  while (sigtimedwait(&signals, nullptr, &none) > 0) ++taken;
  return taken;
}

// A process that makes line 7 interrupt until it is killed.
pid_t start_interrupting() {
  pid_t source = ::fork();
  if (source != 0) return source;
  if (::iopl(3) != 0) ::_exit(1);
  for (;;) {
    ::outb(lpt::SelectIn | lpt::NotInit | lpt::IrqEnable, lpt::Lpt1 + lpt::Control);
    ::inb(lpt::Lpt1 + lpt::Status);
    ::usleep(InterruptPauseUs);
  }
}

void stop_interrupting(pid_t source, const contract::Driver& driver) {
  ::kill(source, SIGKILL);
  ::waitpid(source, nullptr, 0);
  driver.port_out(1, lpt::Lpt1 + lpt::Control, lpt::SelectIn | lpt::NotInit);
  driver.port_in(1, lpt::Lpt1 + lpt::Status);  // leaves no acknowledge pending
}

int reap(bool wait) {
  int reaped = 0;
  while (::waitpid(-1, nullptr, wait ? 0 : WNOHANG) > 0) ++reaped;
  return reaped;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::uint64_t seed = seed_of_this_run();
  std::printf("fuzz %s: seed %llu\n", scenarios::abi(), static_cast<unsigned long long>(seed));
  contract::Driver driver(e2e::tally());
  if (!CHECK_EQ(driver.open_error(), 0)) return e2e::finish("fuzz");

  // The interrupt line registers the requests may write, to be put back.
  std::vector<std::uint8_t> present = functions_on_bus_0();
  std::vector<std::pair<std::uint8_t, long>> interrupt_lines;
  for (std::uint8_t devfn : present) {
    auto read = contract::pci_request(0, devfn >> 3, devfn & 7, InterruptLineRegister, 1);
    interrupt_lines.emplace_back(devfn, driver.pci(ferrox::Request::PciRead, read).result);
  }
  long interrupts_before = driver.irq_count(lpt::Lpt1Irq);

  const sigset_t signals = program_signals();
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  auto* tally = new (::mmap(nullptr, sizeof(fuzz::Tally), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0))
      fuzz::Tally;
  pid_t source = start_interrupting();

  const std::uint64_t requests = at_least("FERROX_FUZZ_REQUESTS", Requests);
  const auto time_limit = std::chrono::seconds(at_least("FERROX_FUZZ_SECONDS", TimeLimitSeconds));
  auto started = std::chrono::steady_clock::now();
  fuzz::RequestFuzzer fuzzer(seed, present, *tally);
  long signals_taken = 0;
  int running_children = 0;
  for (std::uint64_t step = 1; tally->sent < requests && std::chrono::steady_clock::now() - started < time_limit;
       ++step) {
    fuzzer.step();
    if (step % StepsBetweenDrains == 0) {
      signals_taken += drain(signals);
      running_children -= reap(false);
    }
    if (fuzzer.draw() % ForkOneIn == 0 && running_children < MostChildren) {
      std::uint64_t child_seed = fuzzer.draw();
      if (::fork() == 0) {
        fuzzer.reseed(child_seed);
        for (int i = 0; i < ChildSteps; ++i) fuzzer.step();
        ::_exit(0);
      }
      ++running_children;
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  stop_interrupting(source, driver);
  reap(true);
  fuzzer.close_all();
  signals_taken += drain(signals);

  for (auto [devfn, value] : interrupt_lines) {
    auto restore = contract::pci_request(0, devfn >> 3, devfn & 7, InterruptLineRegister, 1,
                                         static_cast<std::uint32_t>(value));
    driver.pci(ferrox::Request::PciWrite, restore);
  }
  std::uint32_t total = tally->sent;
  CHECK(total >= MinimumRequests);
  CHECK(tally->judged > 0);
  CHECK_EQ(tally->misjudged.load(), 0u);
  std::printf("fuzz %s: %u requests (%u carried out, %u judged by the oracle, %u misjudged) in %.1f s, "
              "%ld interrupts on line 7, %ld signals taken (seed %llu)\n",
              scenarios::abi(), total, tally->carried_out.load(), tally->judged.load(), tally->misjudged.load(), seconds,
              driver.irq_count(lpt::Lpt1Irq) - interrupts_before, signals_taken, static_cast<unsigned long long>(seed));

  e2e::scenario("the driver still serves after the fuzzing");
  contract::still_serving(e2e::tally());
  return e2e::finish("fuzz");
}
