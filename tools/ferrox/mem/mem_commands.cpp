// SPDX-License-Identifier: MIT
// ferrox mem: blocks of physical memory, read as a hexdump and written in bytes, words or
// double words: device registers answer only accesses of their own width.
#include <errno.h>

#include <fmt/format.h>

#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "tools/ferrox/command.h"
#include "tools/ferrox/support/hexdump.h"
#include "tools/ferrox/support/numbers.h"

namespace ferrox_tool {

namespace {

using ferrox::Error;
using ferrox::Result;

constexpr std::uint64_t AddressSpace = 1ull << 32;
constexpr std::uint32_t LargestBlock = 65536;  // bytes one command moves
constexpr unsigned AddressDigits = 8;

struct MemOptions {
  std::string address;  // ADDR[.b|.w|.l][=VALUE,...]
  std::uint32_t count = 16;
  std::vector<std::uint32_t> values;
  bool json = false;
};

// Where the block lies, how wide each access is, and what a write puts there.
struct Block {
  std::uint32_t address = 0;
  unsigned width = 1;
  std::uint32_t elements = 0;
  std::vector<std::uint32_t> values;
  std::uint64_t bytes() const { return std::uint64_t{elements} * width; }
};

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
  Block block{static_cast<std::uint32_t>(access.address), access.width.value_or(1), options.count, {}};
  FERROX_TRY(fits_one_block(block));
  return block;
}

Result<Block> write_block(const MemOptions& options) {
  FERROX_TRY_ASSIGN(Access access, parse_access(options.address, MemorySyntax, Values::Optional));
  if (!access.values.empty() && !options.values.empty())
    return Error{fmt::format("\"{}\" gives the values already", options.address)};
  Block block{static_cast<std::uint32_t>(access.address), access.width.value_or(1), 0,
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

std::uint32_t get(ferrox::TFerrox32& component, const Block& block, std::uint32_t index) {
  if (block.width == 1) return component.fGetMemB(block.address, index);
  if (block.width == 2) return component.fGetMemW(block.address, index);
  return component.fGetMemL(block.address, index);
}

void set(ferrox::TFerrox32& component, const Block& block, std::uint32_t index) {
  std::uint32_t value = block.values[index];
  if (block.width == 1) component.fSetMemB(block.address, index, static_cast<ferrox::Byte>(value));
  if (block.width == 2) component.fSetMemW(block.address, index, static_cast<ferrox::Word>(value));
  if (block.width == 4) component.fSetMemL(block.address, index, value);
}

ferrox::Status read_memory(ferrox::TFerrox32& component, const MemOptions& options, const Block& block) {
  FERROX_TRY(map_block(component, block));
  std::vector<std::uint8_t> bytes(block.bytes());
  if (block.width == 1) {
    component.ReadPhysicalMemory(block.address, 0, block.elements, bytes.data());
  } else {
    for (std::uint32_t i = 0; i < block.elements; ++i) {
      std::uint32_t value = get(component, block, i);
      for (unsigned b = 0; b < block.width; ++b) bytes[i * block.width + b] = static_cast<std::uint8_t>(value >> 8 * b);
    }
  }
  if (options.json) {
    print_json({{"address", block.address}, {"width", block.width}, {"values", elements_of(bytes, block.width)}});
  } else {
    hexdump(std::cout, block.address, bytes, AddressDigits, block.width);
  }
  return ferrox::Done{};
}

ferrox::Status write_memory(ferrox::TFerrox32& component, const MemOptions&, const Block& block) {
  FERROX_TRY(map_block(component, block));
  for (std::uint32_t i = 0; i < block.elements; ++i) set(component, block, i);
  return ferrox::Done{};
}

void add_address(CLI::App* command, MemOptions& options, Values values) {
  command->add_option("ADDR", options.address, "Physical address, with .b, .w or .l for the width (default .b)")
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
  read->add_option("COUNT", options->count, fmt::format("How many bytes, words or double words: at least 1, and at most {} bytes in all", LargestBlock))
      ->transform(number_in(1, LargestBlock, "count"));
  on_planned(read, selected, options, read_block, read_memory);

  CLI::App* write = mem->add_subcommand("write", "Write values from ADDR on: ADDR BYTE... or ADDR.l=VALUE,...");
  add_address(write, *options, Values::Optional);
  write->add_option("VALUE", options->values, "The values, in order, unless ADDR=VALUE,... gives them")
      ->transform(number_in(0, 0xFFFFFFFF, "value", Shown::Hexadecimal));
  on_planned(write, selected, options, write_block, write_memory);
}

}  // namespace ferrox_tool
