// ferrox port: single ports through the driver or directly, and FIFO blocks.
#include <fmt/format.h>

#include <iostream>
#include <memory>
#include <vector>

#include "tools/ferrox/command.h"
#include "tools/ferrox/hexdump.h"
#include "tools/ferrox/numbers.h"

namespace ferrox_tool {

namespace {

constexpr std::uint32_t LargestBlock = 65536;  // elements of one FIFO transfer

struct PortOptions {
  unsigned size = 1;
  bool direct = false;
  std::uint16_t port = 0;
  std::uint32_t value = 0;
  std::uint32_t count = 0;
  std::vector<std::uint32_t> values;
};

// The checks every subcommand shares: the access must stay within port 0xffff, and each value
// must fit its width.
bool checked(const PortOptions& options, const std::vector<std::uint32_t>& values) {
  if (options.port + options.size - 1 > 0xFFFF) {
    fail(fmt::format("a {}-byte access at port {:#x} runs past port 0xffff", options.size, options.port));
    return false;
  }
  for (std::uint32_t value : values)
    if (options.size < 4 && value >> (8 * options.size) != 0) {
      fail(fmt::format("value {:#x} does not fit in {} byte{}", value, options.size, options.size == 1 ? "" : "s"));
      return false;
    }
  return true;
}

// Port instructions need the grant of every port the access touches.
bool granted(ferrox::TFerrox32& component, const PortOptions& options) {
  for (unsigned port = options.port; port < options.port + options.size; ++port)
    if (!component.fSetIoPermission(static_cast<ferrox::Word>(port))) {
      fail(fmt::format("no I/O permission for port {:#x}: iopl and ioperm were refused", port));
      return false;
    }
  return true;
}

// --direct: the port instructions, never a quiet fall-back to the driver.
bool choose_path(ferrox::TFerrox32& component, const PortOptions& options) {
  if (!options.direct) return true;
  component.fSetHardAccess(false);
  if (component.HardAccess()) {
    fail("direct port access refused: iopl was refused");
    return false;
  }
  return granted(component, options);
}

int read_port(ferrox::TFerrox32& component, const PortOptions& options) {
  if (!checked(options, {}) || !choose_path(component, options)) return 1;
  std::uint32_t value = options.size == 1   ? component.fGetPortB(options.port)
                        : options.size == 2 ? component.fGetPortW(options.port)
                                            : component.fGetPortL(options.port);
  std::cout << hex(value, options.size) << '\n';
  return 0;
}

int write_port(ferrox::TFerrox32& component, const PortOptions& options) {
  if (!checked(options, {options.value}) || !choose_path(component, options)) return 1;
  if (options.size == 1) component.fSetPortB(options.port, static_cast<ferrox::Byte>(options.value));
  if (options.size == 2) component.fSetPortW(options.port, static_cast<ferrox::Word>(options.value));
  if (options.size == 4) component.fSetPortL(options.port, options.value);
  return 0;
}

int fifo_read(ferrox::TFerrox32& component, const PortOptions& options) {
  if (!checked(options, {}) || !granted(component, options)) return 1;
  std::vector<std::uint8_t> bytes(std::size_t{options.count} * options.size);
  if (options.size == 1) component.ReadPortFIFO(options.port, options.count, bytes.data());
  if (options.size == 2) component.ReadPortWFIFO(options.port, options.count, bytes.data());
  if (options.size == 4) component.ReadPortLFIFO(options.port, options.count, bytes.data());
  hexdump(std::cout, 0, bytes, bytes.size() > 0x100 ? 4 : 2, options.size);
  return 0;
}

int fifo_write(ferrox::TFerrox32& component, const PortOptions& options) {
  if (!checked(options, options.values) || !granted(component, options)) return 1;
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t value : options.values)
    for (unsigned i = 0; i < options.size; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> 8 * i));
  auto count = static_cast<std::uint32_t>(options.values.size());
  if (options.size == 1) component.WritePortFIFO(options.port, count, bytes.data());
  if (options.size == 2) component.WritePortWFIFO(options.port, count, bytes.data());
  if (options.size == 4) component.WritePortLFIFO(options.port, count, bytes.data());
  return 0;
}

void add_size(CLI::App* command, PortOptions& options) {
  command->add_option("--size,-s", options.size, "Bytes per access: 1, 2 or 4 (default 1)")
      ->check(CLI::IsMember({1u, 2u, 4u}));
}

void add_port(CLI::App* command, PortOptions& options) {
  command->add_option("PORT", options.port, "I/O port, 0..0xffff")->required()->transform(number_up_to(0xFFFF, "port"));
}

}  // namespace

void add_port_commands(CLI::App& app, Command& selected) {
  CLI::App* port = app.add_subcommand("port", "Read and write I/O ports");
  auto options = std::make_shared<PortOptions>();

  CLI::App* read = port->add_subcommand("read", "Read a port and print its value in hexadecimal");
  add_size(read, *options);
  read->add_flag("--direct", options->direct, "Use the port instructions instead of the driver");
  add_port(read, *options);
  on_parsed(read, selected, options, read_port);

  CLI::App* write = port->add_subcommand("write", "Write a value to a port");
  add_size(write, *options);
  write->add_flag("--direct", options->direct, "Use the port instructions instead of the driver");
  add_port(write, *options);
  write->add_option("VALUE", options->value, "The value")->required()->transform(number_up_to(0xFFFFFFFF, "value"));
  on_parsed(write, selected, options, write_port);

  CLI::App* fifo_in = port->add_subcommand("fifo-read", "Read COUNT values from one port with a string instruction");
  add_size(fifo_in, *options);
  add_port(fifo_in, *options);
  fifo_in->add_option("COUNT", options->count, "How many values")
      ->required()
      ->transform(number_up_to(LargestBlock, "count"));
  on_parsed(fifo_in, selected, options, fifo_read);

  CLI::App* fifo_out = port->add_subcommand("fifo-write", "Write values to one port with a string instruction");
  add_size(fifo_out, *options);
  add_port(fifo_out, *options);
  fifo_out->add_option("VALUE", options->values, "The values, in order")
      ->required()
      ->transform(number_up_to(0xFFFFFFFF, "value"));
  on_parsed(fifo_out, selected, options, fifo_write);
}

}  // namespace ferrox_tool
