// SPDX-License-Identifier: MIT
// ferrox mem: blocks of physical memory, read as a hexdump and written in bytes, words, double
// words or quad words: device registers answer only accesses of their own width.
#include <errno.h>

#include <fmt/format.h>

#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "tools/ferrox/command.h"
#include "tools/ferrox/support/hexdump.h"
#include "tools/ferrox/support/numbers.h"
#include "tools/ferrox/support/space.h"

namespace ferrox_tool {

namespace {

using ferrox::Error;
using ferrox::Result;

// The driver's map request carries a 32-bit physical address, on x86_64 as on i386.
constexpr std::uint64_t AddressSpace = 1ull << 32;
constexpr std::uint32_t LargestBlock = 65536;  // bytes one command moves
constexpr unsigned AddressDigits = 8;

struct MemOptions {
  std::string address;  // ADDR[.b|.w|.l|.q][=VALUE,...]
  std::uint32_t count = 16;
  std::vector<std::uint64_t> values;
  bool json = false;
};

// Where the block lies, how wide each access is, and what a write puts there.
struct Block {
  std::uint32_t address = 0;
  unsigned width = 1;
  std::uint32_t elements = 0;
  std::vector<std::uint64_t> values;
  std::uint64_t bytes() const { return std::uint64_t{elements} * width; }
};

// An address the driver can map; 64-bit BARs placed above 4 GiB are out of its reach.
Result<std::uint32_t> reachable(std::uint64_t address) {
  if (address >= AddressSpace)
    return Error{fmt::format("address {:#x} lies above 4 GiB, out of the driver's reach: its map request carries a "
                             "32-bit physical address", address)};
  return static_cast<std::uint32_t>(address);
}

ferrox::Status fits_one_block(const Block& block) {
  if (block.bytes() > LargestBlock)
    return Error{fmt::format("{} elements of {} are more than the {} bytes one command moves", block.elements,
                             bytes_text(block.width), LargestBlock)};
  if (block.address + block.bytes() > AddressSpace)
    return Error{fmt::format("{} from {:#x} run past the 4 GiB physical address space", bytes_text(block.bytes()),
                             block.address)};
  return ferrox::Done{};
}

Result<Block> read_block(const MemOptions& options) {
  FERROX_TRY_ASSIGN(Access access, parse_access(options.address, MemorySyntax, Values::Refused));
  FERROX_TRY_ASSIGN(std::uint32_t address, reachable(access.address));
  Block block{address, access.width.value_or(1), options.count, {}};
  FERROX_TRY(fits_one_block(block));
  return block;
}

Result<Block> write_block(const MemOptions& options) {
  FERROX_TRY_ASSIGN(Access access, parse_access(options.address, MemorySyntax, Values::Optional));
  if (!access.values.empty() && !options.values.empty())
    return Error{fmt::format("\"{}\" gives the values already", options.address)};
  FERROX_TRY_ASSIGN(std::uint32_t address, reachable(access.address));
  Block block{address, access.width.value_or(1), 0,
              access.values.empty() ? options.values : access.values};
  block.elements = static_cast<std::uint32_t>(block.values.size());
  if (block.values.empty()) return Error{"nothing to write: give values, or ADDR.l=VALUE"};
  FERROX_TRY(values_fit(block.values, block.width));
  FERROX_TRY(fits_one_block(block));
  return block;
}

// Why the driver refused a window: it keeps System RAM out of reach and says so with EPERM.
std::string map_refusal(int error) {
  if (error == EPERM) return "the range holds System RAM, which the driver does not map";
  if (error == 0) return "the driver gave no reason";
  return std::strerror(error);
}

// Maps a window of exactly the block, which the accesses then reuse. Left to themselves they map
// one byte past the block and at least 256 bytes, and a careful driver refuses a window that
// reaches into System RAM: the last bytes below 1 MiB could not be read. The component reports a
// window the driver could not map only through its state; the driver's errno tells why.
ferrox::Status map_block(ferrox::TFerrox32& component, const Block& block) {
  errno = 0;
  component.fMapPhysToLinear(block.address, static_cast<std::uint32_t>(block.bytes()));
  if (component.Mapped()) return ferrox::Done{};
  int why = errno;
  return Error{fmt::format("the driver could not map {} of physical memory at {:#x}: {}", bytes_text(block.bytes()),
                           block.address, map_refusal(why))};
}

// An element of a block: the index-th of its width from the block's address.
struct Element {
  std::uint32_t address = 0;
  std::uint32_t index = 0;
};

// An element of 8 bytes: the component has no accessor of that width, but the driver moves a
// transfer's bytes in one copy, so one transfer of 8 bytes reads or writes it whole.
std::uint64_t read_quad(ferrox::TFerrox32& c, const Element& at) {
  std::uint8_t bytes[8] = {};
  c.ReadPhysicalMemory(at.address, at.index * 8, sizeof bytes, bytes);
  std::uint64_t value = 0;
  for (unsigned i = sizeof bytes; i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

void write_quad(ferrox::TFerrox32& c, const Element& at, std::uint64_t value) {
  std::uint8_t bytes[8];
  for (unsigned i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<std::uint8_t>(value >> 8 * i);
  c.WritePhysicalMemory(at.address, at.index * 8, sizeof bytes, bytes);
}

// Physical memory through the component's window, in each width.
Space<Element> memory_space(ferrox::TFerrox32& c) {
  using At = const Element&;
  return Space<Element>({
      {1, [&c](At at) -> std::uint64_t { return c.fGetMemB(at.address, at.index); },
       [&c](At at, std::uint64_t value) { c.fSetMemB(at.address, at.index, static_cast<ferrox::Byte>(value)); }, {}, {}},
      {2, [&c](At at) -> std::uint64_t { return c.fGetMemW(at.address, at.index); },
       [&c](At at, std::uint64_t value) { c.fSetMemW(at.address, at.index, static_cast<ferrox::Word>(value)); }, {}, {}},
      {4, [&c](At at) -> std::uint64_t { return c.fGetMemL(at.address, at.index); },
       [&c](At at, std::uint64_t value) { c.fSetMemL(at.address, at.index, static_cast<std::uint32_t>(value)); }, {}, {}},
      {8, [&c](At at) { return read_quad(c, at); }, [&c](At at, std::uint64_t value) { write_quad(c, at, value); }, {}, {}},
  });
}

// What mem read found: the block's bytes as memory holds them.
struct MemoryBytes {
  std::uint32_t address = 0;
  unsigned width = 1;
  std::vector<std::uint8_t> bytes;
};

void write_text(std::ostream& out, const MemoryBytes& read) {
  hexdump(out, read.address, read.bytes, AddressDigits, read.width);
}

nlohmann::json json_of(const MemoryBytes& read) {
  return {{"address", read.address}, {"width", read.width}, {"values", elements_of(read.bytes, read.width)}};
}

ferrox::Status read_memory(ferrox::TFerrox32& component, const MemOptions& options, const Block& block) {
  FERROX_TRY(map_block(component, block));
  std::vector<std::uint8_t> bytes(block.bytes());
  if (block.width == 1) {
    component.ReadPhysicalMemory(block.address, 0, block.elements, bytes.data());
  } else {
    Space<Element> memory = memory_space(component);
    for (std::uint32_t i = 0; i < block.elements; ++i) {
      std::uint64_t value = memory.read(block.width, {block.address, i});
      for (unsigned b = 0; b < block.width; ++b) bytes[i * block.width + b] = static_cast<std::uint8_t>(value >> 8 * b);
    }
  }
  show(MemoryBytes{block.address, block.width, std::move(bytes)}, options.json);
  return ferrox::Done{};
}

ferrox::Status write_memory(ferrox::TFerrox32& component, const MemOptions&, const Block& block) {
  FERROX_TRY(map_block(component, block));
  Space<Element> memory = memory_space(component);
  for (std::uint32_t i = 0; i < block.elements; ++i) memory.write(block.width, {block.address, i}, block.values[i]);
  return ferrox::Done{};
}

void add_address(CLI::App* command, MemOptions& options, Values values) {
  command->add_option("ADDR", options.address,
                      "Physical address below 4 GiB, with .b, .w, .l or .q for the width (default .b)")
      ->required()
      ->check(access_check(MemorySyntax, values));
}

}  // namespace

void add_mem_commands(CLI::App& app, Command& selected) {
  CLI::App* mem = app.add_subcommand("mem", "Read and write physical memory");
  auto options = std::make_shared<MemOptions>();

  CLI::App* read = mem->add_subcommand("read", "Print COUNT elements (default 16) from ADDR as a hexdump");
  add_json_flag(read, options->json);
  add_address(read, *options, Values::Refused);
  read->add_option("COUNT", options->count, fmt::format("How many bytes, words, double or quad words: at least 1, and at most {} bytes in all", LargestBlock))
      ->transform(number_in(1, LargestBlock, "count"));
  on_planned(read, selected, options, read_block, read_memory);

  CLI::App* write = mem->add_subcommand("write", "Write values from ADDR on: ADDR BYTE... or ADDR.l=VALUE,... (.q: 64 bits)");
  add_address(write, *options, Values::Optional);
  write->add_option("VALUE", options->values, "The values, in order, unless ADDR=VALUE,... gives them")
      ->transform(number_in(0, UINT64_MAX, "value", Shown::Hexadecimal));
  on_planned(write, selected, options, write_block, write_memory);
}

}  // namespace ferrox_tool
