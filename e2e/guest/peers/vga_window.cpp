// SPDX-License-Identifier: MIT
// 4 KiB and 64 KiB of the VGA memory window at 0xA0000: the library's block read, pread on
// /dev/mem, and a /dev/mem mapping copied with memcpy.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "common/check.h"
#include "peers/peers.h"

namespace peers {

namespace {

constexpr std::uint32_t VgaWindow = 0xA0000;
constexpr std::size_t VgaWindowSize = 0x20000;

struct Size {
  std::uint32_t bytes;
  const char* group;
};
constexpr Size Sizes[] = {{4096, "VGA window 4 KiB"}, {65536, "VGA window 64 KiB"}};

}  // namespace

void vga_window_reads(ferrox::TFerrox32& component, const Budget& budget) {
  int memory = open("/dev/mem", O_RDONLY | O_CLOEXEC);
  if (!CHECK(memory >= 0)) return;
  void* mapped = mmap(nullptr, VgaWindowSize, PROT_READ, MAP_SHARED, memory, VgaWindow);
  if (CHECK(mapped != MAP_FAILED)) {
    std::vector<std::uint8_t> library(Sizes[1].bytes), read(Sizes[1].bytes), copied(Sizes[1].bytes);
    for (const Size& size : Sizes) {
      component.ReadPhysicalMemory(VgaWindow, 0, size.bytes, library.data());
      CHECK(pread(memory, read.data(), size.bytes, VgaWindow) == static_cast<ssize_t>(size.bytes));
      std::memcpy(copied.data(), mapped, size.bytes);
      CHECK(std::memcmp(read.data(), library.data(), size.bytes) == 0);
      CHECK(std::memcmp(copied.data(), library.data(), size.bytes) == 0);
      time_group(size.group, budget,
                 {{"ferrox", [&] { component.ReadPhysicalMemory(VgaWindow, 0, size.bytes, library.data()); }},
                  {"/dev/mem pread", [&] { pread(memory, read.data(), size.bytes, VgaWindow); }},
                  {"/dev/mem mmap+memcpy", [&] { std::memcpy(copied.data(), mapped, size.bytes); }}});
    }
    munmap(mapped, VgaWindowSize);
  }
  close(memory);
}

}  // namespace peers
