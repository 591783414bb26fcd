// ferrox lpt: the parallel ports found, the pins and status lines of one, its control lines and
// modes, and printing a file on it with the printer handshake.
#include <fmt/format.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include "tools/ferrox/command.h"
#include "tools/ferrox/lpt_print.h"
#include "tools/ferrox/numbers.h"
#include "tools/ferrox/parallel_socket.h"

namespace ferrox_tool {

namespace {

struct LptOptions {
  unsigned port = 1;  // LPT1..LPT3, numbered as discovered
  ferrox::Byte pin = 0;
  unsigned level = 0;
  bool on = false;
  std::string file;
  double timeout = 5;  // seconds a printer may stay busy before printing gives up
};

const char* yes_no(bool value) { return value ? "yes" : "no"; }
const char* on_off(bool value) { return value ? "on" : "off"; }

// Selects the asked port; a fault when the firmware listed fewer.
bool select(ferrox::TFerrox32& component, const LptOptions& options) {
  if (options.port > component.LPTCount()) {
    fail(component.LPTCount() == 0
             ? fmt::format("LPT{} is not installed: the BIOS data area lists no parallel port", options.port)
             : fmt::format("LPT{} is not installed: the BIOS data area lists {} parallel port{}", options.port,
                           component.LPTCount(), component.LPTCount() == 1 ? "" : "s"));
    return false;
  }
  component.fSetLPTNumber(static_cast<ferrox::Byte>(options.port));
  return true;
}

int list(ferrox::TFerrox32& component) {
  if (component.LPTCount() == 0) std::cout << "no parallel ports in the BIOS data area\n";
  for (int number = 1; number <= component.LPTCount(); ++number)
    std::cout << fmt::format("LPT{} at {:#05x}\n", number, component.LPTAddress(number));
  return 0;
}

int status(ferrox::TFerrox32& component, const LptOptions& options) {
  if (!select(component, options)) return 1;
  std::cout << fmt::format("LPT{} at {:#05x}: interrupt on acknowledge {}, read mode {}\n", options.port,
                           component.LPTBase(), on_off(component.LPTIrq()), on_off(component.LPTReadMode()));
  draw_socket(std::cout, component);
  std::cout << fmt::format("status: busy {}, acknowledge {}, paper end {}, select {}, error {}\n",
                           yes_no(component.fGetLPTBusy()), component.fGetLPTAckwl() ? "active" : "inactive",
                           yes_no(component.fGetLPTPaperEnd()), component.fGetLPTSlct() ? "low (off line)" : "high (on line)",
                           component.fGetLPTError() ? "active" : "inactive");
  return 0;
}

int print(ferrox::TFerrox32& component, const LptOptions& options) {
  std::ifstream in(options.file, std::ios::binary);
  if (!in) return fail("cannot read " + options.file);
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!select(component, options)) return 1;
  auto patience = std::chrono::milliseconds(static_cast<long>(options.timeout * 1000));
  std::size_t sent = print_on_parallel_port(component, text, patience);
  if (sent < text.size())
    return fail(fmt::format("the printer on LPT{} stayed busy after {} of {} bytes (paper end {}, select {}, error {})",
                            options.port, sent, text.size(), yes_no(component.fGetLPTPaperEnd()),
                            component.fGetLPTSlct() ? "low" : "high", component.fGetLPTError() ? "active" : "inactive"));
  std::cout << fmt::format("printed {} bytes on LPT{}\n", sent, options.port);
  return 0;
}

// A subcommand that selects the port and then acts on it.
template <class Act>
CLI::App* on_port(CLI::App* lpt, const char* name, const char* description, Command& selected,
                  std::shared_ptr<LptOptions> options, Act act) {
  CLI::App* command = lpt->add_subcommand(name, description);
  command->callback([&selected, options, act] {
    selected = on_driver([options, act](ferrox::TFerrox32& component) {
      if (!select(component, *options)) return 1;
      act(component, *options);
      return 0;
    });
  });
  return command;
}

void add_switch(CLI::App* command, LptOptions& options) {
  command->add_option("STATE", options.on, "on or off")
      ->required()
      ->transform(CLI::IsMember({"on", "off"}) & CLI::Transformer({{"on", "1"}, {"off", "0"}}));
}

}  // namespace

void add_lpt_commands(CLI::App& app, Command& selected) {
  CLI::App* lpt = app.add_subcommand("lpt", "The parallel port: pins, status and control lines, printing");
  auto options = std::make_shared<LptOptions>();
  lpt->fallthrough();  // --port may also follow the subcommand: lpt status --port 2
  lpt->add_option("--port,-p", options->port, "The port: 1..3 for LPT1..LPT3, as the BIOS lists them (default 1)")
      ->check(CLI::Range(1, ferrox::LptSlotCount));

  lpt->add_subcommand("list", "List the parallel ports the BIOS found")->callback([&selected] {
    selected = on_driver(list);
  });
  on_parsed(lpt->add_subcommand("status", "Draw the 17 pins as the 25-pin socket and name the five status lines"),
            selected, options, status);

  CLI::App* set = on_port(lpt, "set", "Drive a pin high (1) or low (0)", selected, options,
                          [](ferrox::TFerrox32& component, const LptOptions& o) { component.fSetPin(o.pin, o.level); });
  set->add_option("PIN", options->pin, "Pin 1..17 of the connector")
      ->required()
      ->transform(number_in(1, ferrox::LptPinCount, "pin"));
  set->add_option("LEVEL", options->level, "1 high, 0 low")->required()->check(CLI::IsMember({0u, 1u}));

  on_port(lpt, "strobe", "Pulse the strobe line low", selected, options,
          [](ferrox::TFerrox32& component, const LptOptions&) { component.LPTStrobe(); });
  on_port(lpt, "init", "Pulse the init line low (resets the printer)", selected, options,
          [](ferrox::TFerrox32& component, const LptOptions&) { component.LPTInit(); });
  on_port(lpt, "select-in", "Drive init low and release select in (pin 17 high)", selected, options,
          [](ferrox::TFerrox32& component, const LptOptions&) { component.LPTSlctIn(); });
  add_switch(on_port(lpt, "autofeed", "Assert (on) or release (off) auto feed", selected, options,
                     [](ferrox::TFerrox32& component, const LptOptions& o) { component.LPTAutofd(o.on); }),
             *options);
  add_switch(on_port(lpt, "irq", "Interrupt on acknowledge: on or off", selected, options,
                     [](ferrox::TFerrox32& component, const LptOptions& o) { component.fSetLPTIrq(o.on); }),
             *options);
  add_switch(on_port(lpt, "read-mode", "Data lines as inputs (on) or outputs (off)", selected, options,
                     [](ferrox::TFerrox32& component, const LptOptions& o) { component.fSetLPTReadMode(o.on); }),
             *options);

  CLI::App* printing = lpt->add_subcommand("print", "Send a file's bytes to the printer with the handshake");
  printing->add_option("FILE", options->file, "The file to print")->required();
  printing->add_option("--timeout,-t", options->timeout, "Give up when the printer stays busy this many seconds (5)")
      ->check(CLI::PositiveNumber);
  on_parsed(printing, selected, options, print);
}

}  // namespace ferrox_tool
