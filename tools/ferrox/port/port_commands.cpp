// SPDX-License-Identifier: MIT
// ferrox port: single ports through the driver or directly, and FIFO blocks.
#include <fmt/format.h>

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

constexpr std::uint32_t LargestBlock = 65536;  // elements of one FIFO transfer

struct PortOptions {
  unsigned size = 0;  // --size; 0 when not given
  bool direct = false;
  bool json = false;
  std::string port;  // PORT[.b|.w|.l][=VALUE,...]
  std::vector<std::uint64_t> values;
  std::uint32_t count = 0;
};

// The port, the width of each access and the values to write, from the expression and the options.
struct PortAccess {
  std::uint16_t port = 0;
  unsigned width = 1;
  std::vector<std::uint64_t> values;
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

// The I/O ports through the component, single values and FIFO blocks, in each width.
Space<ferrox::Word> port_space(ferrox::TFerrox32& c) {
  using Port = const ferrox::Word&;
  return Space<ferrox::Word>({
      {1, [&c](Port port) -> std::uint64_t { return c.fGetPortB(port); },
       [&c](Port port, std::uint64_t value) { c.fSetPortB(port, static_cast<ferrox::Byte>(value)); },
       [&c](Port port, std::uint32_t count, std::uint8_t* bytes) { c.ReadPortFIFO(port, count, bytes); },
       [&c](Port port, std::uint32_t count, std::uint8_t* bytes) { c.WritePortFIFO(port, count, bytes); }},
      {2, [&c](Port port) -> std::uint64_t { return c.fGetPortW(port); },
       [&c](Port port, std::uint64_t value) { c.fSetPortW(port, static_cast<ferrox::Word>(value)); },
       [&c](Port port, std::uint32_t count, std::uint8_t* bytes) { c.ReadPortWFIFO(port, count, bytes); },
       [&c](Port port, std::uint32_t count, std::uint8_t* bytes) { c.WritePortWFIFO(port, count, bytes); }},
      {4, [&c](Port port) -> std::uint64_t { return c.fGetPortL(port); },
       [&c](Port port, std::uint64_t value) { c.fSetPortL(port, static_cast<std::uint32_t>(value)); },
       [&c](Port port, std::uint32_t count, std::uint8_t* bytes) { c.ReadPortLFIFO(port, count, bytes); },
       [&c](Port port, std::uint32_t count, std::uint8_t* bytes) { c.WritePortLFIFO(port, count, bytes); }},
  });
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

// What port read found.
struct PortValue {
  std::uint16_t port = 0;
  unsigned width = 1;
  std::uint64_t value = 0;
};

void write_text(std::ostream& out, const PortValue& read) { out << hex(read.value, read.width) << '\n'; }

nlohmann::json json_of(const PortValue& read) {
  return {{"port", read.port}, {"width", read.width}, {"value", read.value}};
}

// What fifo-read found: the values one after the other, as bytes in the order they came.
struct PortValues {
  std::uint16_t port = 0;
  unsigned width = 1;
  std::vector<std::uint8_t> bytes;
};

void write_text(std::ostream& out, const PortValues& read) {
  hexdump(out, 0, read.bytes, read.bytes.size() > 0x100 ? 4 : 2, read.width);
}

nlohmann::json json_of(const PortValues& read) {
  return {{"port", read.port}, {"width", read.width}, {"values", elements_of(read.bytes, read.width)}};
}

ferrox::Status read_port(ferrox::TFerrox32& component, const PortOptions& options, const PortAccess& access) {
  FERROX_TRY(choose_path(component, options, access));
  show(PortValue{access.port, access.width, port_space(component).read(access.width, access.port)}, options.json);
  return ferrox::Done{};
}

ferrox::Status write_port(ferrox::TFerrox32& component, const PortOptions& options, const PortAccess& access) {
  PortAccess span = access;
  span.width = static_cast<unsigned>(access.width * access.values.size());  // every port the writes touch
  FERROX_TRY(choose_path(component, options, span));
  auto space = port_space(component);
  auto port = access.port;
  for (std::uint64_t value : access.values) {
    space.write(access.width, port, value);
    port = static_cast<std::uint16_t>(port + access.width);
  }
  return ferrox::Done{};
}

ferrox::Status fifo_read(ferrox::TFerrox32& component, const PortOptions& options, const PortAccess& access) {
  FERROX_TRY(granted(component, access));
  std::vector<std::uint8_t> bytes(std::size_t{options.count} * access.width);
  port_space(component).read_block(access.width, access.port, options.count, bytes.data());
  show(PortValues{access.port, access.width, std::move(bytes)}, options.json);
  return ferrox::Done{};
}

ferrox::Status fifo_write(ferrox::TFerrox32& component, const PortOptions&, const PortAccess& access) {
  FERROX_TRY(granted(component, access));
  std::vector<std::uint8_t> bytes;
  for (std::uint64_t value : access.values)
    for (unsigned i = 0; i < access.width; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> 8 * i));
  auto count = static_cast<std::uint32_t>(access.values.size());
  port_space(component).write_block(access.width, access.port, count, bytes.data());
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
