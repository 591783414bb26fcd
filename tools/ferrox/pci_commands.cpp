// ferrox pci: the functions present, a function's header, and its registers in setpci's terms.
#include <fmt/format.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "tools/ferrox/command.h"
#include "tools/ferrox/hexdump.h"
#include "tools/ferrox/numbers.h"
#include "tools/ferrox/pci_listing.h"

namespace ferrox_tool {

namespace {

struct PciOptions {
  std::string slot;
  std::string expression;
};

struct Slot {
  ferrox::Word bus, device, function;
};

// "bus:device.function" in hexadecimal, as lspci prints it ("00:1f.3").
std::optional<Slot> parse_slot(const std::string& text) {
  unsigned bus = 0, device = 0, function = 0;
  char end = 0;
  if (std::sscanf(text.c_str(), "%2x:%2x.%1x%c", &bus, &device, &function, &end) != 3) return {};
  if (text.find_first_of("+- ") != std::string::npos || device > 31 || function > 7) return {};
  return Slot{static_cast<ferrox::Word>(bus), static_cast<ferrox::Word>(device), static_cast<ferrox::Word>(function)};
}

CLI::Validator slot_check() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (parse_slot(text)) return {};
        return fmt::format("\"{}\" is not a slot bus:device.function (hexadecimal, device 00..1f, function 0..7)", text);
      },
      "BB:DD.F");
}

// The function at the slot, with its header; a fault message when there is none.
std::optional<Slot> present(ferrox::TFerrox32& component, const std::string& text, ferrox::TPciCfg& header) {
  std::optional<Slot> slot = parse_slot(text);  // well formed: the option's check has passed
  if (!component.PciDeviceInfo(slot->bus, slot->device, slot->function, header) || header.VendorID == 0xFFFF) {
    fail(fmt::format("no PCI function at {}", text));
    return {};
  }
  return slot;
}

int list(ferrox::TFerrox32& component) {
  for (const std::string& line : list_pci_functions(component)) std::cout << line << '\n';
  return 0;
}

int dump(ferrox::TFerrox32& component, const PciOptions& options) {
  ferrox::TPciCfg header;
  std::optional<Slot> slot = present(component, options.slot, header);
  if (!slot) return 1;
  std::cout << pci_function_line(slot->bus, slot->device, slot->function, header) << '\n';
  hexdump(std::cout, 0, {reinterpret_cast<const std::uint8_t*>(&header), sizeof header}, 2);
  return 0;
}

// The register an expression names, on a function that is present; nothing after a fault.
struct Target {
  Slot slot;
  RegisterExpression reg;
  ferrox::Word offset() const { return static_cast<ferrox::Word>(reg.offset); }
};

std::optional<Target> target(ferrox::TFerrox32& component, const PciOptions& options, bool value_wanted) {
  std::string error;
  std::optional<RegisterExpression> reg = parse_register(options.expression, value_wanted, error);
  if (!reg) {
    fail(error);
    return {};
  }
  ferrox::TPciCfg header;
  std::optional<Slot> slot = present(component, options.slot, header);
  if (!slot) return {};
  return Target{*slot, *reg};
}

int read_register(ferrox::TFerrox32& component, const PciOptions& options) {
  std::optional<Target> at = target(component, options, false);
  if (!at) return 1;
  const Slot& s = at->slot;
  std::uint32_t value = at->reg.width == 1   ? component.PciGetByte(s.bus, s.device, s.function, at->offset())
                        : at->reg.width == 2 ? component.PciGetWord(s.bus, s.device, s.function, at->offset())
                                             : component.PciGetDword(s.bus, s.device, s.function, at->offset());
  std::cout << hex(value, at->reg.width) << '\n';
  return 0;
}

int write_register(ferrox::TFerrox32& component, const PciOptions& options) {
  std::optional<Target> at = target(component, options, true);
  if (!at) return 1;
  const Slot& s = at->slot;
  std::uint32_t value = *at->reg.value;
  if (at->reg.width == 1) component.PciSetByte(s.bus, s.device, s.function, at->offset(), static_cast<ferrox::Byte>(value));
  if (at->reg.width == 2) component.PciSetWord(s.bus, s.device, s.function, at->offset(), static_cast<ferrox::Word>(value));
  if (at->reg.width == 4) component.PciSetDword(s.bus, s.device, s.function, at->offset(), value);
  return 0;
}

}  // namespace

void add_pci_commands(CLI::App& app, Command& selected) {
  CLI::App* pci = app.add_subcommand("pci", "PCI functions and their configuration space");
  auto options = std::make_shared<PciOptions>();

  CLI::App* listing = pci->add_subcommand("list", "List the functions as `lspci -n`: bus:dev.fn class: vendor:device");
  listing->callback([&selected] { selected = on_driver(list); });

  CLI::App* dumping = pci->add_subcommand("dump", "Print a function's 64-byte header as `lspci -x`");
  dumping->add_option("SLOT", options->slot, "bus:device.function, e.g. 00:02.0")->required()->check(slot_check());
  on_parsed(dumping, selected, options, dump);

  CLI::App* read = pci->add_subcommand("read", "Read a register: REG.b, REG.w or REG.l (REG in hexadecimal, as setpci)");
  read->add_option("SLOT", options->slot, "bus:device.function")->required()->check(slot_check());
  read->add_option("REG", options->expression, "e.g. 04.w")->required()->check(register_expression(false));
  on_parsed(read, selected, options, read_register);

  CLI::App* write = pci->add_subcommand("write", "Write a register: REG.w=VALUE (hexadecimal, as setpci)");
  write->add_option("SLOT", options->slot, "bus:device.function")->required()->check(slot_check());
  write->add_option("REG=VALUE", options->expression, "e.g. 04.w=0107")
      ->required()
      ->check(register_expression(true));
  on_parsed(write, selected, options, write_register);
}

}  // namespace ferrox_tool
