// SPDX-License-Identifier: MIT
// ferrox lpt: the parallel ports found, the pins and status lines of one, its control lines and
// modes, printing with the printer handshake, and recording the lines as a logic analyzer does.
#include <time.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include "ferrox/hwtypes/PcHardware.h"
#include "tools/ferrox/command.h"
#include "tools/ferrox/support/durations.h"
#include "tools/ferrox/support/input_file.h"
#include "tools/ferrox/lpt/lpt_print.h"
#include "tools/ferrox/support/numbers.h"
#include "tools/ferrox/lpt/parallel_lines.h"
#include "tools/ferrox/lpt/parallel_socket.h"
#include "tools/ferrox/lpt/pci_parallel.h"
#include "tools/ferrox/lpt/pin_recorder.h"
#include "tools/ferrox/support/progress.h"
#include "tools/ferrox/lpt/vcd_writer.h"
#include "tools/ferrox/lpt/waveform_png.h"

namespace ferrox_tool {

namespace {

constexpr std::uint32_t FastestRate = 1'000'000;   // samples a second
constexpr double MostSamples = 10'000'000;          // in one capture
// A printed byte's handshake lasts microseconds: its recording is timed to the nanosecond.
constexpr std::uint64_t PrintTickNanoseconds = 1;
// A capture that ends later than this after its last sample was due fell behind its rate.
constexpr std::uint64_t LateNanoseconds = 10'000'000;

// Where a port that the BIOS data area does not list may be based: its three registers in the I/O
// space, at a multiple of 4 as every parallel port's base is (PCI I/O BARs are aligned to their size).
constexpr std::uint32_t BaseAlignment = 4;
constexpr std::uint32_t HighestBase = 0x10000 - BaseAlignment;

struct LptOptions {
  unsigned port = 0;  // LPT1..LPT3, numbered as discovered; 0 when not given (LPT1 then)
  ferrox::Word base = 0;  // --base: a port at this base instead; 0 when not given
  ferrox::Byte pin = 0;
  unsigned level = 0;
  bool on = false;
  std::string file;
  double timeout = 5;  // seconds a printer may stay busy before printing gives up
  std::string vcd;     // --capture, -o
  std::string png;
  std::uint32_t rate = 10000;
  double duration = 1;
  bool json = false;
};

const char* yes_no(bool value) { return value ? "yes" : "no"; }
const char* on_off(bool value) { return value ? "on" : "off"; }

// The asked port: the one at --base, or the component's selection of a port the BIOS data area
// lists; an error when the firmware listed fewer.
ferrox::Result<std::unique_ptr<ParallelLines>> select(ferrox::TFerrox32& component, const LptOptions& options) {
  if (options.base != 0) {
    if (options.port != 0)
      return ferrox::Error{fmt::format("--port {} and --base {:#x} name two ports: give one", options.port, options.base)};
    return port_at(component, options.base);
  }
  unsigned port = std::max(options.port, 1u);
  if (port > component.LPTCount())
    return ferrox::Error{
        component.LPTCount() == 0
            ? fmt::format("LPT{} is not installed: the BIOS data area lists no parallel port (--base ADDR drives "
                          "a port it does not list)", port)
            : fmt::format("LPT{} is not installed: the BIOS data area lists {} parallel port{}", port,
                          component.LPTCount(), component.LPTCount() == 1 ? "" : "s")};
  component.fSetLPTNumber(static_cast<ferrox::Byte>(port));
  return selected_port(component);
}

// The parallel ports the firmware lists (LPT1, LPT2, ... and the base of each), then the ports of
// PCI parallel cards, which it never lists.
struct PortList {
  std::vector<ferrox::Word> bases;
  std::vector<PciParallelPort> cards;
};

std::string irq_text(const PciParallelPort& card) {
  return card.irq == NoInterruptLine ? "" : fmt::format(", IRQ {}", card.irq);
}

void write_text(std::ostream& out, const PortList& list) {
  if (list.bases.empty()) out << "no parallel ports in the BIOS data area\n";
  for (std::size_t i = 0; i < list.bases.size(); ++i) out << fmt::format("LPT{} at {:#05x}\n", i + 1, list.bases[i]);
  for (const PciParallelPort& card : list.cards)
    out << fmt::format("PCI {} at {:#06x}{}: not in the BIOS data area\n", slot_text(card.slot, true), card.base,
                       irq_text(card));
}

nlohmann::json json_of(const PortList& list) {
  nlohmann::json ports = nlohmann::json::array();
  for (std::size_t i = 0; i < list.bases.size(); ++i) ports.push_back({{"port", i + 1}, {"base", list.bases[i]}});
  for (const PciParallelPort& card : list.cards)
    ports.push_back({{"slot", slot_text(card.slot, true)}, {"base", card.base},
                     {"irq", card.irq == NoInterruptLine ? nlohmann::json(nullptr) : nlohmann::json(card.irq)}});
  return ports;
}

ferrox::Status list(ferrox::TFerrox32& component, const LptOptions& options) {
  PortList found{{}, find_pci_parallel_ports(component)};
  for (int number = 1; number <= component.LPTCount(); ++number) found.bases.push_back(component.LPTAddress(number));
  show(found, options.json);
  return ferrox::Done{};
}

// A port's modes and one reading of its three registers, from which every line is shown.
struct PortStatus {
  std::string name;
  unsigned port = 0;  // 1..3, 0 for a port driven at its base
  ferrox::Word base = 0;
  bool interrupt_on_acknowledge = false;
  bool read_mode = false;
  PinSample sample;
};

void write_text(std::ostream& out, const PortStatus& status) {
  const PinSample& sample = status.sample;
  out << fmt::format("{}{}: interrupt on acknowledge {}, read mode {}\n", status.name,
                     status.port == 0 ? "" : fmt::format(" at {:#05x}", status.base),
                     on_off(status.interrupt_on_acknowledge), on_off(status.read_mode));
  draw_socket(out, [&sample](int pin) { return sample.level(pin); });
  out << fmt::format("status: busy {}, acknowledge {}, paper end {}, select {}, error {}\n",
                     yes_no(sample.level(ferrox::lpt::BusyPin)),
                     sample.level(ferrox::lpt::AcknowledgePin) ? "inactive" : "active",
                     yes_no(sample.level(ferrox::lpt::PaperEndPin)),
                     sample.level(ferrox::lpt::SelectPin) ? "high (on line)" : "low (off line)",
                     sample.level(ferrox::lpt::ErrorPin) ? "inactive" : "active");
}

nlohmann::json json_of(const PortStatus& status) {
  const PinSample& sample = status.sample;
  nlohmann::json pins = nlohmann::json::array();
  for (int pin = 1; pin <= ferrox::LptPinCount; ++pin)
    pins.push_back({{"pin", pin}, {"signal", PinSignalNames[pin]}, {"high", sample.level(pin)}});
  return {{"port", status.port == 0 ? nlohmann::json(nullptr) : nlohmann::json(status.port)},
          {"base", status.base},
          {"interrupt_on_acknowledge", status.interrupt_on_acknowledge},
          {"read_mode", status.read_mode},
          {"registers", {{"data", sample.registers[0]}, {"status", sample.registers[1]}, {"control", sample.registers[2]}}},
          {"pins", pins},
          {"status",
           {{"busy", sample.level(ferrox::lpt::BusyPin)},
            {"acknowledge", !sample.level(ferrox::lpt::AcknowledgePin)},
            {"paper_end", sample.level(ferrox::lpt::PaperEndPin)},
            {"on_line", sample.level(ferrox::lpt::SelectPin)},
            {"error", !sample.level(ferrox::lpt::ErrorPin)}}}};
}

ferrox::Status status(ferrox::TFerrox32& component, const LptOptions& options) {
  FERROX_TRY_ASSIGN(std::unique_ptr<ParallelLines> port, select(component, options));
  PinRecorder reading(*port);  // one read of each register
  show(PortStatus{port->name(), port->number(), port->base(), port->irq(), port->read_mode(), reading.samples().front()},
       options.json);
  return ferrox::Done{};
}

// The status lines are inputs; so are the data lines while read mode is on.
ferrox::Status set_pin(ferrox::TFerrox32& component, const LptOptions& options) {
  FERROX_TRY_ASSIGN(std::unique_ptr<ParallelLines> port, select(component, options));
  if (ferrox::PinsPort[options.pin] == 0 && port->read_mode())
    return ferrox::Error{fmt::format("pin {} ({}) is an input while read mode is on: lpt read-mode off makes the "
                                     "data lines outputs", options.pin, PinSignalNames[options.pin])};
  port->set_pin(options.pin, options.level != 0);
  return ferrox::Done{};
}

// The recording as the options ask: a Value Change Dump in ticks of tick_ns, a picture, or both.
ferrox::Status save_recording(const PinRecorder& recording, const LptOptions& options, std::uint64_t tick_ns) {
  if (!options.vcd.empty()) {
    std::ofstream out(options.vcd, std::ios::binary);
    write_vcd(out, recording, tick_ns);
    out.close();
    if (!out) return ferrox::Error{fmt::format("cannot write {}: {}", options.vcd, std::strerror(errno))};
  }
  if (!options.png.empty()) return write_waveform_png(options.png, recording);
  return ferrox::Done{};
}

ferrox::Status print(ferrox::TFerrox32& component, const LptOptions& options) {
  FERROX_TRY_ASSIGN(std::string text, read_input(options.file));
  FERROX_TRY_ASSIGN(std::unique_ptr<ParallelLines> port, select(component, options));
  auto patience = std::chrono::milliseconds(std::lround(options.timeout * 1000));
  std::optional<PinRecorder> recorder;
  if (!options.vcd.empty() || !options.png.empty()) recorder.emplace(*port);
  std::size_t sent = 0;
  {  // the bar's line ends before any message that follows
    ProgressBar progress(port->name(), text.size());
    PrintWatchers watchers{recorder ? &*recorder : nullptr, [&progress](std::size_t done) { progress.update(done); }};
    sent = print_on_parallel_port(*port, text, patience, watchers);
  }
  if (recorder) FERROX_TRY(save_recording(*recorder, options, PrintTickNanoseconds));
  if (sent < text.size())
    return ferrox::Error{fmt::format(
        "the printer on {} stayed busy after {} of {} bytes (paper end {}, select {}, error {})", port->name(), sent,
        text.size(), yes_no(port->pin(ferrox::lpt::PaperEndPin)), port->pin(ferrox::lpt::SelectPin) ? "high" : "low",
        port->pin(ferrox::lpt::ErrorPin) ? "inactive" : "active")};
  std::cout << fmt::format("printed {} on {}\n", bytes_text(sent), port->name());
  return ferrox::Done{};
}

std::uint64_t capture_samples(const LptOptions& options) {
  return static_cast<std::uint64_t>(std::llround(options.rate * options.duration));
}

// A capture's options ask for something to write and from one sample to as many as one capture holds.
ferrox::Status capture_plan(const LptOptions& options) {
  if (options.vcd.empty() && options.png.empty())
    return ferrox::Error{"capture needs -o FILE.vcd, --png FILE.png or both"};
  if (options.rate * options.duration > MostSamples)
    return ferrox::Error{fmt::format("{} samples a second for {} s are more than the {:.0f} one capture takes",
                                     options.rate, options.duration, MostSamples)};
  if (capture_samples(options) == 0)
    return ferrox::Error{fmt::format("{} samples a second for {} s are no sample: the duration is shorter than one "
                                     "sample period ({})", options.rate, options.duration,
                                     duration_text(1e9 / options.rate))};
  return ferrox::Done{};
}

std::uint64_t monotonic_nanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ull + static_cast<std::uint64_t>(now.tv_nsec);
}

void sleep_until(std::uint64_t nanoseconds) {
  timespec due{static_cast<time_t>(nanoseconds / 1'000'000'000ull), static_cast<long>(nanoseconds % 1'000'000'000ull)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
  }
}

// Samples the three registers at the rate asked, each sample timestamped when it was taken. Each
// sample is due at its own place from the start, so that a rate that does not divide a second does
// not drift; a machine that cannot keep up takes the late samples as fast as it can, and is told.
ferrox::Status capture(ferrox::TFerrox32& component, const LptOptions& options, ferrox::Done) {
  FERROX_TRY_ASSIGN(std::unique_ptr<ParallelLines> port, select(component, options));
  std::uint64_t samples = capture_samples(options);
  std::uint64_t start = monotonic_nanoseconds();
  PinRecorder recorder(*port);
  {
    ProgressBar progress(port->name(), samples, ProgressBar::Counting::Samples);
    for (std::uint64_t taken = 1; taken < samples; ++taken) {
      sleep_until(start + taken * 1'000'000'000ull / options.rate);
      recorder.read_registers();
      progress.update(taken + 1);
    }
    progress.update(samples);
  }
  std::uint64_t due = (samples - 1) * 1'000'000'000ull / options.rate, took = recorder.end_nanoseconds();
  if (took > due + LateNanoseconds)
    std::cerr << fmt::format("ferrox: warning: this machine cannot sample {} {} times a second: the last sample "
                             "came {} late ({:.3f} s for {:.3f} s of samples)\n", port->name(), options.rate,
                             duration_text(static_cast<double>(took - due)), static_cast<double>(took) / 1e9,
                             static_cast<double>(due) / 1e9);
  FERROX_TRY(save_recording(recorder, options, vcd_tick_for_rate(options.rate)));
  std::cout << fmt::format("{}: {} samples in {:.3f} s, {} with a change\n", port->name(), samples,
                           static_cast<double>(took) / 1e9, recorder.change_count());
  return ferrox::Done{};
}

// A subcommand that selects the port and then acts on it.
template <class Act>
CLI::App* on_port(CLI::App* lpt, const char* name, const char* description, Command& selected,
                  std::shared_ptr<LptOptions> options, Act act) {
  CLI::App* command = lpt->add_subcommand(name, description);
  on_parsed(command, selected, options, [act](ferrox::TFerrox32& component, const LptOptions& o) -> ferrox::Status {
    FERROX_TRY_ASSIGN(std::unique_ptr<ParallelLines> port, select(component, o));
    act(*port, o);
    return ferrox::Done{};
  });
  return command;
}

// A word of a small set, handed to CLI11 as the number it stands for.
CLI::Validator word_for(std::vector<std::pair<std::string, std::string>> words, const std::string& what,
                        const std::string& shape) {
  return CLI::Validator(
      [words, what, shape](std::string& text) -> std::string {
        for (const auto& [word, number] : words)
          if (text == word) {
            text = number;
            return {};
          }
        return fmt::format("{} \"{}\" is not one of {}", what, text, shape);
      },
      "");
}

void add_switch(CLI::App* command, LptOptions& options) {
  // 1 and 0 as well, as a pin's level takes them.
  command->add_option("STATE", options.on, "on or 1, off or 0")
      ->required()
      ->transform(word_for({{"on", "1"}, {"1", "1"}, {"off", "0"}, {"0", "0"}}, "state", "on|off|1|0"))
      ->type_name("on|off");
}

// A base at which a parallel port's three registers can sit: not 0, a multiple of 4, within the
// I/O space.
CLI::Validator parallel_base() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        ferrox::Result<std::uint64_t> base = parse_number(text, "base");
        if (!base) return base.error().Message;
        if (*base == 0 || *base % BaseAlignment != 0 || *base > HighestBase)
          return fmt::format("base {} is no parallel port's base: a port's registers start at a multiple of {} in "
                             "{:#x}..{:#x}", text, BaseAlignment, BaseAlignment, HighestBase);
        text = std::to_string(*base);
        return {};
      },
      "ADDR");
}

// --port and --base after the subcommand too (lpt status --port 2), and in its help.
void add_port_option(CLI::App* command, LptOptions& options) {
  command->add_option("--port,-p", options.port, "The port: 1..3 for LPT1..LPT3, as the BIOS lists them (default 1)")
      ->transform(number_in(1, ferrox::LptSlotCount, "port"));
  command->add_option("--base,-b", options.base,
                      "The port whose registers start at ADDR, one the BIOS does not list (a PCI parallel card's "
                      "I/O BAR, as lpt list shows it)")
      ->transform(parallel_base())
      ->type_name("ADDR");
}

void add_recording_options(CLI::App* command, LptOptions& options, const char* vcd_flags) {
  command->add_option(vcd_flags, options.vcd, "Write the lines as a Value Change Dump (GTKWave, PulseView, sigrok)")
      ->type_name("FILE.vcd");
  command->add_option("--png", options.png, "Draw the lines as a picture")->type_name("FILE.png");
}

CLI::Validator output_pin() {
  CLI::Validator in_range = number_in(1, ferrox::LptPinCount, "pin");
  return CLI::Validator(
      [in_range](std::string& text) -> std::string {
        if (std::string error = in_range(text); !error.empty()) return error;
        int pin = std::stoi(text);
        if (ferrox::PinsPort[pin] == 1)
          return fmt::format("pin {} ({}) is an input, driven by the device: lpt status shows it", pin, PinSignalNames[pin]);
        return {};
      },
      "1..9,14,16,17");
}

}  // namespace

void add_lpt_commands(CLI::App& app, Command& selected) {
  CLI::App* lpt = app.add_subcommand("lpt", "The parallel port: pins, status and control lines, printing, capture");
  auto options = std::make_shared<LptOptions>();
  add_port_option(lpt, *options);

  CLI::App* listing = lpt->add_subcommand("list", "List the parallel ports the BIOS found, and those of PCI parallel cards");
  add_json_flag(listing, options->json);
  on_parsed(listing, selected, options, list);
  CLI::App* showing = lpt->add_subcommand("status", "Draw the 17 pins as the 25-pin socket and name the five status lines");
  add_json_flag(showing, options->json);
  on_parsed(showing, selected, options, status);

  CLI::App* set = lpt->add_subcommand("set", "Drive an output pin high or low");
  set->add_option("PIN", options->pin, "Output pin: 1..9 (strobe, data), 14, 16, 17 (control)")
      ->required()
      ->transform(output_pin());
  set->add_option("LEVEL", options->level, "1 or high, 0 or low")
      ->required()
      ->transform(word_for({{"1", "1"}, {"high", "1"}, {"0", "0"}, {"low", "0"}}, "level", "1|high|0|low"))
      ->type_name("1|high|0|low");
  on_parsed(set, selected, options, set_pin);

  std::vector<CLI::App*> on_a_port = {set, showing};
  on_a_port.push_back(on_port(lpt, "strobe", "Pulse the strobe line low", selected, options,
                              [](ParallelLines& port, const LptOptions&) { port.strobe(); }));
  on_a_port.push_back(on_port(lpt, "init", "Pulse the init line low (resets the printer)", selected, options,
                              [](ParallelLines& port, const LptOptions&) { port.init(); }));
  on_a_port.push_back(on_port(lpt, "select-in", "Drive init low and release select in (pin 17 high)", selected,
                              options, [](ParallelLines& port, const LptOptions&) { port.select_in(); }));
  on_a_port.push_back(on_port(lpt, "autofeed", "Assert (on) or release (off) auto feed", selected, options,
                              [](ParallelLines& port, const LptOptions& o) { port.autofeed(o.on); }));
  add_switch(on_a_port.back(), *options);
  on_a_port.push_back(on_port(lpt, "irq", "Interrupt on acknowledge: on or off", selected, options,
                              [](ParallelLines& port, const LptOptions& o) { port.set_irq(o.on); }));
  add_switch(on_a_port.back(), *options);
  on_a_port.push_back(on_port(lpt, "read-mode", "Data lines as inputs (on) or outputs (off)", selected, options,
                              [](ParallelLines& port, const LptOptions& o) { port.set_read_mode(o.on); }));
  add_switch(on_a_port.back(), *options);

  CLI::App* printing = lpt->add_subcommand("print", "Send a file's bytes to the printer with the handshake");
  printing->add_option("FILE", options->file, "The file to print; - for standard input")->required();
  printing->add_option("--timeout,-t", options->timeout, "Give up when the printer stays busy this many seconds (5)")
      ->check(seconds("timeout"));
  add_recording_options(printing, *options, "--capture");
  on_parsed(printing, selected, options, print);
  on_a_port.push_back(printing);

  CLI::App* capturing = lpt->add_subcommand("capture", "Sample the 17 lines at a rate, as a logic analyzer");
  capturing->add_option("--rate,-r", options->rate, fmt::format("Samples a second, 1..{} (10000)", FastestRate))
      ->transform(number_in(1, FastestRate, "rate"));
  capturing->add_option("--duration,-d", options->duration, "Seconds to sample (1)")->check(seconds("duration"));
  add_recording_options(capturing, *options, "--output,-o");
  on_planned(capturing, selected, options, capture_plan, capture);
  on_a_port.push_back(capturing);

  for (CLI::App* command : on_a_port) add_port_option(command, *options);
}

}  // namespace ferrox_tool
