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
#include "tools/ferrox/pci/pci_details.h"
#include "tools/ferrox/pci/pci_listing.h"
#include "tools/ferrox/pci/pci_registers.h"
#include "tools/ferrox/pci/pci_selection.h"
#include "tools/ferrox/pci/pci_sysfs.h"
#include "tools/ferrox/support/platform.h"

namespace ferrox_tool {

namespace {

struct PciOptions {
  std::string slot;
  std::string expression;
  int numeric = 0;  // -n: numbers, -nn: names and numbers
  int hex = 0;      // -x, -xxx, -xxxx
  bool domains = false;
  bool json = false;
  std::string slots, ids;  // -s and -d of pci list
  int verbose = 0;         // -v
  int machine = 0;         // -m, -mm
  bool kernel = false;     // -k

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
  // For -v, -k and -m: one per function; empty otherwise.
  std::vector<PciFunctionDetails> details;
  int verbose = 0, machine = 0;
  bool kernel = false;
};

// lspci's layouts: a line per function; -k adds the subsystem and the driver under it; -v the
// decoded header, the driver and a blank line; -m the machine-readable forms.
void write_text(std::ostream& out, const PciListing& listing) {
  PciNames names;
  for (std::size_t i = 0; i < listing.functions.size(); ++i) {
    const PciFunctionFound& found = listing.functions[i];
    if (listing.machine) {
      out << machine_readable(found, listing.details[i], listing.naming, listing.domains, listing.machine,
                              listing.verbose > 0, names);
      continue;
    }
    out << (listing.verbose ? verbose_line(found, listing.naming, listing.domains, names)
                            : pci_function_line(found, listing.naming, listing.domains, names))
        << '\n';
    std::vector<std::string> lines;
    if (listing.verbose) lines = decoded_header(found, listing.details[i], listing.naming, names);
    else if (std::optional<std::string> subsystem = subsystem_line(found, listing.naming, names); subsystem && listing.kernel)
      lines.push_back(*subsystem);
    if (listing.kernel && listing.details[i].driver) lines.push_back("Kernel driver in use: " + *listing.details[i].driver);
    for (const std::string& line : lines) out << '\t' << line << '\n';
    if (listing.verbose) out << '\n';
  }
}

nlohmann::json details_json(const PciFunctionFound& found, const PciFunctionDetails& details) {
  nlohmann::json capabilities = nlohmann::json::array();
  for (const PciCapability& capability : pci_capabilities(details.config))
    capabilities.push_back({{"offset", capability.offset}, {"id", capability.id}, {"name", capability.name}});
  PciIds ids = pci_ids(found);
  return {{"subsystem_vendor_id", ids.subsystem_vendor}, {"subsystem_id", ids.subsystem_device},
          {"command", found.header.Command}, {"status", found.header.Status},
          {"region_sizes", details.sizes}, {"capabilities", capabilities}};
}

nlohmann::json json_of(const PciListing& listing) {
  PciNames names;
  nlohmann::json functions = nlohmann::json::array();
  for (std::size_t i = 0; i < listing.functions.size(); ++i) {
    nlohmann::json function = pci_function_json(listing.functions[i], names);
    if (listing.verbose) function.update(details_json(listing.functions[i], listing.details[i]));
    if (listing.kernel) function["driver"] = listing.details[i].driver ? nlohmann::json(*listing.details[i].driver) : nlohmann::json();
    functions.push_back(function);
  }
  return functions;
}

// What the selectors of pci list ask for: a usage fault when they are not well formed.
ferrox::Result<PciSelection> selection_of(const PciOptions& options) {
  if (options.machine && options.json) return ferrox::Error{"-m and -mm have no JSON form: --json gives every field already"};
  PciSelection selection;
  if (!options.slots.empty()) FERROX_TRY(select_slots(options.slots, selection));
  if (!options.ids.empty()) FERROX_TRY(select_ids(options.ids, selection));
  return selection;
}

// The details of a function: on the real driver the sizes and the driver the host's kernel knows;
// on the virtual PC, whose functions are its own and no driver's, sizes found by probing.
PciFunctionDetails details_of(ferrox::TFerrox32& component, const PciFunctionFound& found, bool on_virtual_pc) {
  PciFunctionDetails details{read_config_space(component, found, 3), {}, {}};
  doctor::SystemView system = doctor::SystemView::of_this_system();
  details.sizes = on_virtual_pc ? probe_region_sizes(component, found) : sysfs_region_sizes(system, found.slot);
  if (!on_virtual_pc) details.driver = sysfs_driver(system, found.slot);
  return details;
}

ferrox::Status list(ferrox::TFerrox32& component, const PciOptions& options, const PciSelection& selection) {
  PciListing listing{{}, options.naming(), options.domains, {}, options.verbose, options.machine, options.kernel};
  for (const PciFunctionFound& found : find_pci_functions(component))
    if (selection.selects(found)) listing.functions.push_back(found);
  if (options.verbose || options.kernel || options.machine) {
    bool on_virtual_pc = virtual_pc_loaded();
    for (const PciFunctionFound& found : listing.functions) listing.details.push_back(details_of(component, found, on_virtual_pc));
  }
  show(listing, options.json);
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
  PciDump dump;
  dump.listing.naming = options.naming();
  dump.listing.domains = options.domains;
  dump.one_slot = !options.slot.empty();
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
      {4, [&c](At r) -> std::uint64_t { return read_config_dword(c, r.slot, r.offset); },
       [&c](At r, std::uint64_t value) {
         c.PciSetDword(r.slot.bus, r.slot.device, r.slot.function, r.offset, static_cast<std::uint32_t>(value));
       }, {}, {}},
  });
}

ferrox::Result<Target> target(ferrox::TFerrox32& component, const PciOptions& options, Values values) {
  // Well formed: the option's check has passed.
  Access reg = parse_register(options.expression, values).value();
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

// Several values go to consecutive registers, as with setpci: 40.l=1,2 writes 40.l and 44.l. A
// value with a mask reads the register first, so that the bits outside the mask keep their state.
ferrox::Status write_register(ferrox::TFerrox32& component, const PciOptions& options) {
  FERROX_TRY_ASSIGN(Target at, target(component, options, Values::Required));
  Space<Register> config = config_space(component);
  for (std::size_t i = 0; i < at.reg.values.size(); ++i) {
    Register reg{at.slot, at.offset(i)};
    std::uint64_t old = at.reg.masked(i) ? config.read(at.width(), reg) : 0;
    config.write(at.width(), reg, at.reg.merged(i, old));
  }
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
  listing->add_option("-s", options->slots, "Only the functions at [[[[domain]:]bus]:][device][.[function]], as lspci -s")
      ->type_name("SELECTOR");
  listing->add_option("-d", options->ids, "Only the functions with [vendor]:[device][:class], as lspci -d")
      ->type_name("SELECTOR");
  add_counted_flag(listing, "-v", {}, options->verbose,
                   "The decoded header, as lspci -vv: command and status bits, regions with sizes, capabilities");
  listing->add_flag("-k", options->kernel, "The kernel driver bound to each function, as lspci -k (none on the virtual PC)");
  add_counted_flag(listing, "-m", {"-mm"}, options->machine,
                   "Machine-readable, as lspci -m and -mm; -vmm a block of fields each");
  add_json_flag(listing, options->json);
  on_planned(listing, selected, options, selection_of, list);

  CLI::App* dumping = pci->add_subcommand(
      "dump", "Dump configuration space as lspci -x: -x the header (default), -xxx 256 bytes, -xxxx 4096 bytes");
  add_slot(dumping, *options, "bus:device.function, e.g. 00:02.0; every function when left out");
  add_counted_flag(dumping, "-x", {"-xxx", "-xxxx"}, options->hex,
                   "Bytes to show: -x 64 (128 for a CardBus bridge), -xxx 256, -xxxx 4096");
  add_naming(dumping, *options);
  add_json_flag(dumping, options->json);
  on_parsed(dumping, selected, options, dump);

  CLI::App* read = pci->add_subcommand(
      "read", "Read a register as setpci: REG.b, REG.w or REG.l, REG in hexadecimal or by name (COMMAND, VENDOR_ID)");
  add_slot(read, *options, "bus:device.function")->required();
  read->add_option("REG", options->expression, "e.g. 04.w, COMMAND, BASE_ADDRESS_0, COMMAND+1.b")
      ->required()
      ->check(register_check(Values::Refused));
  add_json_flag(read, options->json);
  on_parsed(read, selected, options, read_register);

  CLI::App* write = pci->add_subcommand(
      "write", "Write a register as setpci: REG.w=VALUE, VALUE:MASK for only the mask's bits (hexadecimal)");
  add_slot(write, *options, "bus:device.function")->required();
  write->add_option("REG=VALUE", options->expression,
                    "e.g. 04.w=0107, COMMAND=0007:0003; REG.l=V1,V2 writes consecutive registers")
      ->required()
      ->check(register_check(Values::Required));
  on_parsed(write, selected, options, write_register);
}

}  // namespace ferrox_tool
