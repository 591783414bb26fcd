// SPDX-License-Identifier: MIT
// The parallel ports of a machine file: where each port answers, its IRQ line, and what is
// plugged into it.
#include <cstdio>
#include <string>

#include "ferrox/vpc/description/machine_file_reader.h"

namespace ferrox::vpc::machine_file {

namespace {

std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%#x", value);
  return text;
}

ParallelPlug plug(Reader& reader, const toml::node& node, const std::string& key) {
  std::string name = reader.string(node, key);
  if (name == "printer") return ParallelPlug::Printer;
  if (name == "loopback") return ParallelPlug::Loopback;
  if (name != "nothing") reader.fail(node, key, "\"" + name + "\" is not \"nothing\", \"printer\" or \"loopback\"");
  return ParallelPlug::Nothing;
}

PrinterSettings printer(Reader& reader, const toml::table& table, const std::string& key) {
  reader.check_keys(table, key, {"paper_end", "offline", "error", "busy_steps", "ack_steps", "output_file"});
  PrinterSettings settings;
  if (auto* node = table.get("paper_end")) settings.paper_end = reader.boolean(*node, key + ".paper_end");
  if (auto* node = table.get("offline")) settings.offline = reader.boolean(*node, key + ".offline");
  if (auto* node = table.get("error")) settings.error = reader.boolean(*node, key + ".error");
  if (auto* node = table.get("busy_steps"))
    settings.busy_steps = static_cast<unsigned>(reader.integer(*node, key + ".busy_steps", 1000000));
  if (auto* node = table.get("ack_steps"))
    settings.ack_steps = static_cast<unsigned>(reader.integer(*node, key + ".ack_steps", 1000000));
  if (auto* node = table.get("output_file"))
    settings.output_file = (reader.directory() / reader.string(*node, key + ".output_file")).string();
  return settings;
}

ParallelPortDescription port(Reader& reader, const toml::table& table, const std::string& key) {
  reader.check_keys(table, key, {"base", "irq", "plugged", "printer"});
  ParallelPortDescription port;
  port.base = static_cast<std::uint16_t>(
      reader.integer(reader.required(table, key, "base"), key + ".base", 0x10000 - ParallelPort::PortCount));
  if (auto* irq = table.get("irq")) port.irq = static_cast<unsigned>(reader.integer(*irq, key + ".irq", 15));
  port.plugged = ParallelPlug::Nothing;
  if (auto* plugged = table.get("plugged")) port.plugged = plug(reader, *plugged, key + ".plugged");
  if (auto* settings = table.get("printer")) {
    if (port.plugged != ParallelPlug::Printer) reader.fail(*settings, key + ".printer", "no printer is plugged in");
    port.printer = printer(reader, reader.table(*settings, key + ".printer"), key + ".printer");
  }
  return port;
}

}  // namespace

void read_parallel_ports(Reader& reader, const toml::node& node, std::vector<ParallelPortDescription>& ports) {
  ports.clear();
  reader.for_each_table(node, ParallelKey, [&](const toml::table& table, const std::string& key) {
    ParallelPortDescription added = port(reader, table, key);
    for (const ParallelPortDescription& other : ports)
      if (added.base < other.base + ParallelPort::PortCount && other.base < added.base + ParallelPort::PortCount)
        reader.fail(table, key + ".base", "overlaps the registers of the port at " + hex(other.base));
    ports.push_back(added);
  });
}

}  // namespace ferrox::vpc::machine_file
