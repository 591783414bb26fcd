// SPDX-License-Identifier: MIT
// Random requests to /dev/ferrox: codes, records and argument addresses drawn from random and
// boundary values, on descriptors that are opened, duplicated and closed as it goes. What it sends
// can reach real hardware, so it writes only where nothing the machine needs lives: the POST port
// and the parallel ports' data registers, the BIOS data area's application bytes and the legacy
// video hole, and the interrupt line register of a PCI function. Everything else it sends is either
// harmless to carry out or must be refused by the driver.
//
// Its oracle knows what some requests must answer: a map is carried out exactly where /dev/mem maps
// the range (but for RAM in the first MiB, see common/memory_policy.h) and refused with EPERM where
// it does not; a port access at the PCI configuration ports that is not one of the configuration
// mechanism's is refused with EPERM. Any other answer is counted, and the first few are printed.
#pragma once

#include <atomic>
#include <cstdint>
#include <random>
#include <vector>

#include "common/memory_policy.h"

namespace fuzz {

// What the fuzzer sent, counted across the processes that share it (it lives in shared memory).
struct Tally {
  std::atomic<std::uint32_t> sent{0};
  std::atomic<std::uint32_t> carried_out{0};  // requests the driver answered without an error
  std::atomic<std::uint32_t> judged{0};       // answers the oracle knew in advance
  std::atomic<std::uint32_t> misjudged{0};    // answers other than the oracle's
};

class RequestFuzzer final {
 public:
  // present_functions: devfn numbers of the functions on bus 0, whose registers stay untouched but
  // for the interrupt line.
  RequestFuzzer(std::uint64_t seed, std::vector<std::uint8_t> present_functions, Tally& tally);
  ~RequestFuzzer();
  RequestFuzzer(const RequestFuzzer&) = delete;
  RequestFuzzer& operator=(const RequestFuzzer&) = delete;

  // One step: mostly a request, now and then a descriptor opened, duplicated or closed.
  void step();
  // Starts over with another seed, keeping the descriptors and windows (a forked child's stream).
  void reseed(std::uint64_t seed) { random_.seed(seed); }
  // Closes every descriptor.
  void close_all();
  std::uint64_t draw() { return random_(); }

 private:
  struct Descriptor {
    int fd;
    int file;  // the open that made it: duplicates share the file, and its windows
  };
  struct Window {
    int file;
    std::uint32_t phys, size, handle;
  };

  std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(random_() % bound); }
  bool chance(int percent) { return below(100) < static_cast<std::uint32_t>(percent); }
  template <class T, std::size_t N>
  T pick(const T (&values)[N]) { return values[below(N)]; }

  void change_descriptors();
  void close_descriptor(std::size_t index);
  void send_request();
  std::uint32_t request_code();
  // Fills the record for the code and answers the ioctl argument (an address, mostly the record).
  unsigned long argument_for(std::uint32_t code);
  void fill_port_record(std::uint32_t code, bool write);
  void fill_memory_record(bool map, bool write);
  void fill_pci_record(bool write);
  void fill_irq_record();
  unsigned long record_address();
  void note_result(std::uint32_t code, int fd, long result, int error);
  void judge(bool right, const char* what);
  std::uint32_t some_value();
  const Window* some_window();
  int some_fd();

  std::mt19937_64 random_;
  std::vector<std::uint8_t> present_functions_;
  Tally& tally_;
  std::vector<Descriptor> descriptors_;
  std::vector<Window> windows_;
  int next_file_ = 0;
  unsigned char* record_;    // a whole transfer record and more, readable and writable
  unsigned char* edge_;      // two pages, the second inaccessible
  unsigned char* readonly_;  // a readable page the driver cannot write
  std::uint32_t mapped_phys_ = 0, mapped_size_ = 0;  // the last map request's range
  bool port_refused_ = false;                          // the last port request must fail with EPERM
  std::vector<e2e::IomemRange> iomem_;
};

}  // namespace fuzz
