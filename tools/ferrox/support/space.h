// SPDX-License-Identifier: MIT
// The places the tool reads and writes in widths: I/O ports, physical memory, a PCI function's
// configuration space. Each space lists one access per width it has, so the choice of the
// component's call by width is made here once, and a new width is one more entry of a space.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace ferrox_tool {

// One width of a space; Where says what an access names in the space: a port, a memory element,
// a function's register.
template <class Where>
struct WidthAccess {
  unsigned width = 1;  // bytes
  std::function<std::uint64_t(const Where&)> read;
  std::function<void(const Where&, std::uint64_t)> write;
  // Transfers of count elements at one place in one go, where the space has them (port FIFOs).
  // Absent (empty) in the spaces that have none.
  std::function<void(const Where&, std::uint32_t count, std::uint8_t* bytes)> read_block;
  std::function<void(const Where&, std::uint32_t count, std::uint8_t* bytes)> write_block;
};

template <class Where>
class Space final {
 public:
  using Access = WidthAccess<Where>;

  explicit Space(std::vector<Access> accesses) : accesses_(std::move(accesses)) {}

  // The width is one the space has: the command line's syntax admits no other.
  std::uint64_t read(unsigned width, const Where& where) const { return at(width).read(where); }
  void write(unsigned width, const Where& where, std::uint64_t value) const { at(width).write(where, value); }
  void read_block(unsigned width, const Where& where, std::uint32_t count, std::uint8_t* bytes) const {
    at(width).read_block(where, count, bytes);
  }
  void write_block(unsigned width, const Where& where, std::uint32_t count, std::uint8_t* bytes) const {
    at(width).write_block(where, count, bytes);
  }

 private:
  const Access& at(unsigned width) const {
    auto found = std::find_if(accesses_.begin(), accesses_.end(), [width](const Access& a) { return a.width == width; });
    assert(found != accesses_.end());
    return *found;
  }

  std::vector<Access> accesses_;
};

}  // namespace ferrox_tool
