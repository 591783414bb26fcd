// SPDX-License-Identifier: MIT
// ferrox pci: the functions present as lspci lists them, their configuration space as lspci -x
// dumps it, and their registers in setpci's terms.
#include <fmt/format.h>

#include <iostream>
#include <memory>

#include "tools/ferrox/command.h"
#include "tools/ferrox/support/completion.h"
#include "tools/ferrox/support/hexdump.h"
#include "tools/ferrox/support/numbers.h"
#include "tools/ferrox/support/space.h"
#include "tools/ferrox/pci/pci_listing.h"

namespace ferrox_tool {

namespace {

struct PciOptions {
  std::string slot;
  std::string expression;
  int numeric = 0;  // -n: numbers, -nn: names and numbers
  int hex = 0;      // -x, -xxx, -xxxx
  bool domains = false;
  bool json = false;

  Naming naming() const { return numeric == 0 ? Naming::Names : numeric == 1 ? Naming::Numbers : Naming::Both; }
};

CLI::Validator slot_check() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (parse_slot(text)) return {};
        return fmt::format("\"{}\" is not a slot [domain:]bus:device.function (hexadecimal, device 00..1f, "
                           "function 0..7)", text);
      },
      "[DDDD:]BB:DD.F");
}

// The function at the slot; an error when there is none.
ferrox::Result<PciFunctionFound> present(ferrox::TFerrox32& component, const std::string& text) {
  PciSlot slot = *parse_slot(text);  // well formed: the option's check has passed
  if (std::optional<PciFunctionFound> found = find_pci_function(component, slot)) return *found;
  if (slot.domain != 0) return ferrox::Error{fmt::format("no PCI function at {}: the driver reaches domain 0000 only", text)};
  return ferrox::Error{fmt::format("no PCI function at {}", text)};
}

// What pci list found, and how its lines name the functions.
struct PciListing {
  std::vector<PciFunctionFound> functions;
  Naming naming = Naming::Names;
  bool domains = false;
};

void write_text(std::ostream& out, const PciListing& listing) {
  PciNames names;
  for (const PciFunctionFound& found : listing.functions)
    out << pci_function_line(found, listing.naming, listing.domains, names) << '\n';
}

nlohmann::json json_of(const PciListing& listing) {
  PciNames names;
  nlohmann::json functions = nlohmann::json::array();
  for (const PciFunctionFound& found : listing.functions) functions.push_back(pci_function_json(found, names));
  return functions;
}

ferrox::Status list(ferrox::TFerrox32& component, const PciOptions& options) {
  show(PciListing{find_pci_functions(component), options.naming(), options.domains}, options.json);
  return ferrox::Done{};
}

// What pci dump found: the functions with the configuration space shown of each.
struct PciDump {
  PciListing listing;
  std::vector<std::vector<std::uint8_t>> configs;  // one per function
  bool one_slot = false;                           // asked for one function: JSON gives it alone
};

// Each function as `lspci -x` shows it: its line, the rows of configuration space, a blank line.
void write_text(std::ostream& out, const PciDump& dump) {
  PciNames names;
  for (std::size_t i = 0; i < dump.configs.size(); ++i) {
    out << pci_function_line(dump.listing.functions[i], dump.listing.naming, dump.listing.domains, names) << '\n';
    hexdump(out, 0, dump.configs[i], 2);
    out << '\n';
  }
}

nlohmann::json json_of(const PciDump& dump) {
  nlohmann::json functions = json_of(dump.listing);
  for (std::size_t i = 0; i < dump.configs.size(); ++i) functions[i]["config"] = dump.configs[i];
  return dump.one_slot ? functions[0] : functions;
}

ferrox::Status dump(ferrox::TFerrox32& component, const PciOptions& options) {
  PciDump dump{{{}, options.naming(), options.domains}, {}, !options.slot.empty()};
  if (options.slot.empty()) {
    dump.listing.functions = find_pci_functions(component);
  } else {
    FERROX_TRY_ASSIGN(PciFunctionFound found, present(component, options.slot));
    dump.listing.functions.push_back(found);
  }
  for (const PciFunctionFound& found : dump.listing.functions)
    dump.configs.push_back(read_config_space(component, found, std::max(options.hex, 1)));
  show(dump, options.json);
  return ferrox::Done{};
}

// The register an expression names, on a function that is present.
struct Target {
  PciSlot slot;
  Access reg;
  unsigned width() const { return *reg.width; }
  ferrox::Word offset(std::size_t element = 0) const { return static_cast<ferrox::Word>(reg.address + element * width()); }
};

// A register of a function's configuration space.
struct Register {
  PciSlot slot;
  ferrox::Word offset = 0;
};

// Configuration space through the component, in each width.
Space<Register> config_space(ferrox::TFerrox32& c) {
  using At = const Register&;
  return Space<Register>({
      {1, [&c](At r) -> std::uint64_t { return c.PciGetByte(r.slot.bus, r.slot.device, r.slot.function, r.offset); },
       [&c](At r, std::uint64_t value) {
         c.PciSetByte(r.slot.bus, r.slot.device, r.slot.function, r.offset, static_cast<ferrox::Byte>(value));
       }, {}, {}},
      {2, [&c](At r) -> std::uint64_t { return c.PciGetWord(r.slot.bus, r.slot.device, r.slot.function, r.offset); },
       [&c](At r, std::uint64_t value) {
         c.PciSetWord(r.slot.bus, r.slot.device, r.slot.function, r.offset, static_cast<ferrox::Word>(value));
       }, {}, {}},
      {4, [&c](At r) -> std::uint64_t { return c.PciGetDword(r.slot.bus, r.slot.device, r.slot.function, r.offset); },
       [&c](At r, std::uint64_t value) {
         c.PciSetDword(r.slot.bus, r.slot.device, r.slot.function, r.offset, static_cast<std::uint32_t>(value));
       }, {}, {}},
  });
}

ferrox::Result<Target> target(ferrox::TFerrox32& component, const PciOptions& options, Values values) {
  // Well formed: the option's check has passed.
  Access reg = parse_access(options.expression, PciRegisterSyntax, values).value();
  FERROX_TRY_ASSIGN(PciFunctionFound found, present(component, options.slot));
  return Target{found.slot, reg};
}

// What pci read found.
struct RegisterValue {
  PciSlot slot;
  std::uint64_t reg = 0;
  unsigned width = 1;
  std::uint64_t value = 0;
};

void write_text(std::ostream& out, const RegisterValue& read) { out << hex(read.value, read.width) << '\n'; }

nlohmann::json json_of(const RegisterValue& read) {
  return {{"slot", slot_text(read.slot, true)}, {"register", read.reg}, {"width", read.width}, {"value", read.value}};
}

ferrox::Status read_register(ferrox::TFerrox32& component, const PciOptions& options) {
  FERROX_TRY_ASSIGN(Target at, target(component, options, Values::Refused));
  std::uint64_t value = config_space(component).read(at.width(), {at.slot, at.offset()});
  show(RegisterValue{at.slot, at.reg.address, at.width(), value}, options.json);
  return ferrox::Done{};
}

// Several values go to consecutive registers, as with setpci: 40.l=1,2 writes 40.l and 44.l.
ferrox::Status write_register(ferrox::TFerrox32& component, const PciOptions& options) {
  FERROX_TRY_ASSIGN(Target at, target(component, options, Values::Required));
  Space<Register> config = config_space(component);
  for (std::size_t i = 0; i < at.reg.values.size(); ++i) config.write(at.width(), {at.slot, at.offset(i)}, at.reg.values[i]);
  return ferrox::Done{};
}

void add_naming(CLI::App* command, PciOptions& options) {
  add_counted_flag(command, "-n", {"-nn"}, options.numeric, "Numbers instead of names, as lspci -n; -nn for both");
  command->add_flag("-D", options.domains, "Show the domain of every slot, as lspci -D");
}

CLI::Option* add_slot(CLI::App* command, PciOptions& options, const char* description) {
  return command->add_option("SLOT", options.slot, description)->check(slot_check());
}

}  // namespace

void add_pci_commands(CLI::App& app, Command& selected) {
  CLI::App* pci = app.add_subcommand("pci", "PCI functions and their configuration space");
  auto options = std::make_shared<PciOptions>();

  CLI::App* listing = pci->add_subcommand("list", "List the functions as lspci: slot, class, vendor and device");
  add_naming(listing, *options);
  add_json_flag(listing, options->json);
  on_parsed(listing, selected, options, list);

  CLI::App* dumping = pci->add_subcommand(
      "dump", "Dump configuration space as lspci -x: -x the header (default), -xxx 256 bytes, -xxxx 4096 bytes");
  add_slot(dumping, *options, "bus:device.function, e.g. 00:02.0; every function when left out");
  add_counted_flag(dumping, "-x", {"-xxx", "-xxxx"}, options->hex,
                   "Bytes to show: -x 64 (128 for a CardBus bridge), -xxx 256, -xxxx 4096");
  add_naming(dumping, *options);
  add_json_flag(dumping, options->json);
  on_parsed(dumping, selected, options, dump);

  CLI::App* read = pci->add_subcommand("read", "Read a register: REG.b, REG.w or REG.l (REG in hexadecimal, as setpci)");
  add_slot(read, *options, "bus:device.function")->required();
  read->add_option("REG", options->expression, "e.g. 04.w")->required()->check(access_check(PciRegisterSyntax, Values::Refused));
  add_json_flag(read, options->json);
  on_parsed(read, selected, options, read_register);

  CLI::App* write = pci->add_subcommand("write", "Write a register: REG.w=VALUE (hexadecimal, as setpci)");
  add_slot(write, *options, "bus:device.function")->required();
  write->add_option("REG=VALUE", options->expression, "e.g. 04.w=0107; REG.l=V1,V2 writes consecutive registers")
      ->required()
      ->check(access_check(PciRegisterSyntax, Values::Required));
  on_parsed(write, selected, options, write_register);
}

}  // namespace ferrox_tool
