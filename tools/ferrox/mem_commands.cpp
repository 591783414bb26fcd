// ferrox mem: blocks of physical memory, read as a hexdump and written byte by byte.
#include <fmt/format.h>

#include <iostream>
#include <memory>
#include <vector>

#include "tools/ferrox/command.h"
#include "tools/ferrox/hexdump.h"
#include "tools/ferrox/numbers.h"

namespace ferrox_tool {

namespace {

constexpr std::uint64_t AddressSpace = 1ull << 32;
constexpr std::uint32_t LargestBlock = 65536;  // bytes one command moves
constexpr unsigned AddressDigits = 8;

struct MemOptions {
  std::uint32_t address = 0;
  std::uint32_t count = 16;
  std::vector<std::uint8_t> bytes;
};

bool within_address_space(std::uint32_t address, std::size_t count) {
  if (address + std::uint64_t{count} <= AddressSpace) return true;
  fail(fmt::format("{} bytes from {:#x} run past the 4 GiB physical address space", count, address));
  return false;
}

// Maps a window of exactly the block, which the block operations then reuse. Left to themselves
// they map one byte past the block and at least 256 bytes, and a careful driver refuses a window
// that reaches into System RAM: the last bytes below 1 MiB could not be read. The component
// reports a window the driver could not map only through its state.
bool map_block(ferrox::TFerrox32& component, std::uint32_t address, std::size_t count) {
  component.fMapPhysToLinear(address, static_cast<std::uint32_t>(count));
  if (component.Mapped()) return true;
  fail(fmt::format("the driver could not map {} bytes of physical memory at {:#x}", count, address));
  return false;
}

int read_memory(ferrox::TFerrox32& component, const MemOptions& options) {
  if (!within_address_space(options.address, options.count)) return 1;
  if (!map_block(component, options.address, options.count)) return 1;
  std::vector<std::uint8_t> bytes(options.count);
  component.ReadPhysicalMemory(options.address, 0, options.count, bytes.data());
  hexdump(std::cout, options.address, bytes, AddressDigits);
  return 0;
}

int write_memory(ferrox::TFerrox32& component, const MemOptions& options) {
  if (!within_address_space(options.address, options.bytes.size())) return 1;
  if (!map_block(component, options.address, options.bytes.size())) return 1;
  component.WritePhysicalMemory(options.address, 0, static_cast<std::uint32_t>(options.bytes.size()), options.bytes.data());
  return 0;
}

CLI::Option* add_address(CLI::App* command, MemOptions& options) {
  return command->add_option("ADDR", options.address, "Physical address")
      ->required()
      ->transform(number_up_to(AddressSpace - 1, "address"));
}

}  // namespace

void add_mem_commands(CLI::App& app, Command& selected) {
  CLI::App* mem = app.add_subcommand("mem", "Read and write physical memory");
  auto options = std::make_shared<MemOptions>();

  CLI::App* read = mem->add_subcommand("read", "Print COUNT bytes (default 16) from ADDR as a hexdump");
  add_address(read, *options);
  read->add_option("COUNT", options->count, "How many bytes, 1 to 65536")
      ->transform(number_up_to(LargestBlock, "count"))
      ->check(CLI::Range(1u, LargestBlock));
  on_parsed(read, selected, options, read_memory);

  CLI::App* write = mem->add_subcommand("write", "Write bytes from ADDR on");
  add_address(write, *options);
  write->add_option("BYTE", options->bytes, "The bytes, in order")->required()->transform(number_up_to(0xFF, "byte"));
  on_parsed(write, selected, options, write_memory);
}

}  // namespace ferrox_tool
