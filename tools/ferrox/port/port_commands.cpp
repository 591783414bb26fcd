// SPDX-License-Identifier: MIT
// ferrox port: single ports through the driver or directly, and FIFO blocks.
#include <fmt/format.h>

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

constexpr std::uint32_t LargestBlock = 65536;  // elements of one FIFO transfer

struct PortOptions {
  unsigned size = 0;  // --size; 0 when not given
  bool direct = false;
  bool json = false;
  std::string port;  // PORT[.b|.w|.l][=VALUE,...]
  std::vector<std::uint32_t> values;
  std::uint32_t count = 0;
};

// The port, the width of each access and the values to write, from the expression and the options.
struct PortAccess {
  std::uint16_t port = 0;
  unsigned width = 1;
  std::vector<std::uint32_t> values;
};

Result<PortAccess> resolve(const PortOptions& options, Values values) {
  FERROX_TRY_ASSIGN(Access access, parse_access(options.port, PortSyntax, values));
  if (access.width && options.size && *access.width != options.size)
    return Error{fmt::format("\"{}\" and --size {} give two widths", options.port, options.size)};
  if (!access.values.empty() && !options.values.empty())
    return Error{fmt::format("\"{}\" gives the value already", options.port)};
  PortAccess resolved{static_cast<std::uint16_t>(access.address), access.width.value_or(options.size ? options.size : 1),
                      access.values.empty() ? options.values : access.values};
  if (resolved.port + resolved.width - 1 > 0xFFFF)
    return Error{fmt::format("{} from port {:#x} run past port 0xffff", bytes_text(resolved.width), resolved.port)};
  FERROX_TRY(values_fit(resolved.values, resolved.width));
  return resolved;
}

Result<PortAccess> read_access(const PortOptions& options) { return resolve(options, Values::Refused); }

Result<PortAccess> write_access(const PortOptions& options) {
  FERROX_TRY_ASSIGN(PortAccess access, resolve(options, Values::Optional));
  if (access.values.empty()) return Error{fmt::format("port write of {} gives no value: write {}=VALUE or {} VALUE",
                                                      options.port, options.port, options.port)};
  // Several values go to consecutive ports, each of the access's width.
  std::uint64_t reach = std::uint64_t{access.width} * access.values.size();
  if (access.port + reach - 1 > 0xFFFF)
    return Error{fmt::format("{} from port {:#x} run past port 0xffff", bytes_text(reach), access.port)};
  return access;
}

Result<PortAccess> fifo_write_access(const PortOptions& options) {
  FERROX_TRY_ASSIGN(PortAccess access, resolve(options, Values::Optional));
  if (access.values.empty()) return Error{fmt::format("fifo-write of {} gives no value", options.port)};
  if (access.values.size() > LargestBlock)
    return Error{fmt::format("{} values are more than one transfer of {} takes", access.values.size(), LargestBlock)};
  return access;
}

// Port instructions need the grant of every port the access touches.
ferrox::Status granted(ferrox::TFerrox32& component, const PortAccess& access) {
  for (unsigned port = access.port; port < access.port + access.width; ++port)
    if (!component.fSetIoPermission(static_cast<ferrox::Word>(port)))
      return Error{fmt::format("no I/O permission for port {:#x}: iopl and ioperm were refused", port)};
  return ferrox::Done{};
}

// --direct: the port instructions, never a quiet fall-back to the driver.
ferrox::Status choose_path(ferrox::TFerrox32& component, const PortOptions& options, const PortAccess& access) {
  if (!options.direct) return ferrox::Done{};
  component.fSetHardAccess(false);
  if (component.HardAccess()) return Error{"direct port access refused: iopl was refused"};
  return granted(component, access);
}

ferrox::Status read_port(ferrox::TFerrox32& component, const PortOptions& options, const PortAccess& access) {
  FERROX_TRY(choose_path(component, options, access));
  std::uint32_t value = access.width == 1   ? component.fGetPortB(access.port)
                        : access.width == 2 ? component.fGetPortW(access.port)
                                            : component.fGetPortL(access.port);
  if (options.json)
    print_json({{"port", access.port}, {"width", access.width}, {"value", value}});
  else
    std::cout << hex(value, access.width) << '\n';
  return ferrox::Done{};
}

ferrox::Status write_port(ferrox::TFerrox32& component, const PortOptions& options, const PortAccess& access) {
  PortAccess span = access;
  span.width = static_cast<unsigned>(access.width * access.values.size());  // every port the writes touch
  FERROX_TRY(choose_path(component, options, span));
  auto port = access.port;
  for (std::uint32_t value : access.values) {
    if (access.width == 1) component.fSetPortB(port, static_cast<ferrox::Byte>(value));
    if (access.width == 2) component.fSetPortW(port, static_cast<ferrox::Word>(value));
    if (access.width == 4) component.fSetPortL(port, value);
    port = static_cast<std::uint16_t>(port + access.width);
  }
  return ferrox::Done{};
}

ferrox::Status fifo_read(ferrox::TFerrox32& component, const PortOptions& options, const PortAccess& access) {
  FERROX_TRY(granted(component, access));
  std::vector<std::uint8_t> bytes(std::size_t{options.count} * access.width);
  if (access.width == 1) component.ReadPortFIFO(access.port, options.count, bytes.data());
  if (access.width == 2) component.ReadPortWFIFO(access.port, options.count, bytes.data());
  if (access.width == 4) component.ReadPortLFIFO(access.port, options.count, bytes.data());
  if (options.json) {
    print_json({{"port", access.port}, {"width", access.width}, {"values", elements_of(bytes, access.width)}});
  } else {
    hexdump(std::cout, 0, bytes, bytes.size() > 0x100 ? 4 : 2, access.width);
  }
  return ferrox::Done{};
}

ferrox::Status fifo_write(ferrox::TFerrox32& component, const PortOptions&, const PortAccess& access) {
  FERROX_TRY(granted(component, access));
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t value : access.values)
    for (unsigned i = 0; i < access.width; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> 8 * i));
  auto count = static_cast<std::uint32_t>(access.values.size());
  if (access.width == 1) component.WritePortFIFO(access.port, count, bytes.data());
  if (access.width == 2) component.WritePortWFIFO(access.port, count, bytes.data());
  if (access.width == 4) component.WritePortLFIFO(access.port, count, bytes.data());
  return ferrox::Done{};
}

void add_size(CLI::App* command, PortOptions& options) {
  command->add_option("--size,-s", options.size, "Bytes per access: 1, 2 or 4, the same as PORT.b, PORT.w, PORT.l")
      ->check(CLI::IsMember({1u, 2u, 4u}));
}

void add_port(CLI::App* command, PortOptions& options, Values values) {
  command->add_option("PORT", options.port, "I/O port 0..0xffff, with .b, .w or .l for the width (default .b)")
      ->required()
      ->check(access_check(PortSyntax, values));
}

void add_values(CLI::App* command, PortOptions& options, const char* description) {
  command->add_option("VALUE", options.values, description)->transform(number_in(0, 0xFFFFFFFF, "value", Shown::Hexadecimal));
}

}  // namespace

void add_port_commands(CLI::App& app, Command& selected) {
  CLI::App* port = app.add_subcommand("port", "Read and write I/O ports");
  auto options = std::make_shared<PortOptions>();

  CLI::App* read = port->add_subcommand("read", "Read a port and print its value in hexadecimal");
  add_size(read, *options);
  read->add_flag("--direct", options->direct, "Use the port instructions instead of the driver");
  add_json_flag(read, options->json);
  add_port(read, *options, Values::Refused);
  on_planned(read, selected, options, read_access, read_port);

  CLI::App* write = port->add_subcommand("write", "Write a value to a port: PORT VALUE or PORT.w=VALUE; PORT=1,2,3 to consecutive ports");
  add_size(write, *options);
  write->add_flag("--direct", options->direct, "Use the port instructions instead of the driver");
  add_port(write, *options, Values::Optional);
  add_values(write, *options, "The values, to consecutive ports, unless PORT=VALUE,... gives them");
  on_planned(write, selected, options, write_access, write_port);

  CLI::App* fifo_in = port->add_subcommand("fifo-read", "Read COUNT values from one port with a string instruction");
  add_size(fifo_in, *options);
  add_json_flag(fifo_in, options->json);
  add_port(fifo_in, *options, Values::Refused);
  fifo_in->add_option("COUNT", options->count, fmt::format("How many values, 1..{}", LargestBlock))
      ->required()
      ->transform(number_in(1, LargestBlock, "count"));
  on_planned(fifo_in, selected, options, read_access, fifo_read);

  CLI::App* fifo_out = port->add_subcommand("fifo-write", "Write values to one port with a string instruction");
  add_size(fifo_out, *options);
  add_port(fifo_out, *options, Values::Optional);
  add_values(fifo_out, *options, "The values, in order, unless PORT=VALUE,... gives them");
  on_planned(fifo_out, selected, options, fifo_write_access, fifo_write);
}

}  // namespace ferrox_tool
