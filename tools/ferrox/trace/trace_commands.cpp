// SPDX-License-Identifier: MIT
// ferrox trace, record and replay: what a program does to the hardware, watched as it happens,
// kept in a recording, and played back to it on the virtual PC.
#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <ext/stdio_filebuf.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

#include "ferrox/common/WholeFile.h"
#include "ferrox/recording/inherited_pipe.h"
#include "ferrox/recording/recording.h"
#include "ferrox/recording/recording_writer.h"
#include "ferrox/recording/trace_pipe.h"
#include "ferrox/vpc/control.h"
#include "tools/ferrox/command.h"
#include "tools/ferrox/support/platform.h"
#include "tools/ferrox/support/program_runner.h"
#include "tools/ferrox/trace/trace_printer.h"

namespace ferrox_tool {

namespace {

// Marks each line of a trace on standard error, which the program writes to as well.
constexpr const char* SharedStreamPrefix = "[trace] ";

struct TraceOptions {
  std::vector<std::string> program;
  std::string output;  // trace: "" for standard error; record: the recording
  std::string from;    // trace: a recording to print instead of a program
  bool json = false;
  bool all = false;                // trace: every call on its own line
  std::string recording;          // replay
  bool loose_timing = false;       // replay
  bool loose_polling = false;
};

// A file written as the program runs, which the program does not inherit.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path)
      : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)), buffer_(fd_, std::ios::out), stream_(&buffer_) {
    if (fd_ < 0) stream_.setstate(std::ios::badbit);
  }
  std::ostream& stream() { return stream_; }
  // Everything written reached the file.
  bool close() {
    stream_.flush();
    bool written = stream_.good();
    buffer_.close();
    return written;
  }

 private:
  int fd_;
  __gnu_cxx::stdio_filebuf<char> buffer_;
  std::ostream stream_;
};

// Runs the program with the trace layer ahead (and the virtual PC after it), each event to `each`.
// The virtual PC's library, preloaded into a program that runs on it.
ferrox::Result<std::string> virtual_pc_preload() {
  std::filesystem::path machine = virtual_pc_library();
  if (machine.empty()) return ferrox::Error{"the virtual PC library (" FERROX_VPC_SONAME ") is not beside libferrox"};
  return machine.string();
}

// How the program ended, when not with status 0.
ferrox::Status ended_well(const std::string& program, const Ending& ending) {
  if (!ending.empty()) return ferrox::Error{program + " " + ending};
  return ferrox::Done{};
}

ferrox::Status run_traced(const std::vector<std::string>& program, bool on_virtual_pc,
                          const std::function<void(ferrox::recording::Event, std::span<const std::uint8_t>)>& each) {
  std::filesystem::path layer = library_beside_component(FERROX_TRACE_SONAME);
  if (layer.empty()) return ferrox::Error{"the trace layer (" FERROX_TRACE_SONAME ") is not beside libferrox"};
  ProgramRun run{program, {layer.string()}, {}, ferrox::recording::TracePipeVariable};
  if (on_virtual_pc) {
    FERROX_TRY_ASSIGN(std::string machine, virtual_pc_preload());
    run.preload.push_back(machine);
  }
  ferrox::recording::TracePipeReader stream(each);
  FERROX_TRY_ASSIGN(Ending ended, run_program(run, [&stream](std::span<const std::uint8_t> bytes) { stream.add(bytes); }));
  FERROX_TRY(stream.end());
  return ended_well(program[0], ended);
}

ferrox::Status print_recording(const TraceOptions& options, std::ostream& out) {
  FERROX_TRY_ASSIGN(ferrox::recording::Recording recording, ferrox::recording::load_recording(options.from));
  TracePrinter printer(out, {options.json, options.all, ""}, recording.on_virtual_pc(), recording.head.started);
  for (ferrox::recording::Event& event : recording.events) printer.add(std::move(event));
  printer.finish();
  return ferrox::Done{};
}

ferrox::Status trace_program(const TraceOptions& options, bool on_virtual_pc) {
  std::optional<OutputFile> file;
  if (!options.output.empty()) file.emplace(options.output);
  // A program's trace goes apart from what the program prints; a recording's is the output itself.
  bool beside_program = !file && options.from.empty();
  std::ostream& out = file ? file->stream() : beside_program ? std::cerr : std::cout;
  if (!out) return ferrox::Error{"cannot write " + options.output};
  ferrox::Status status = ferrox::Done{};
  if (!options.from.empty()) {
    status = print_recording(options, out);
  } else {
    TracePrinter printer(out, {options.json, options.all, beside_program ? SharedStreamPrefix : ""}, on_virtual_pc,
                         ferrox::recording::monotonic_ns());
    status = run_traced(options.program, on_virtual_pc, [&printer](ferrox::recording::Event event, std::span<const std::uint8_t>) {
      printer.add(std::move(event));
    });
    printer.finish();
  }
  if (!(file ? file->close() : out.flush().good())) return ferrox::Error{"cannot write the trace"};
  return status;
}

ferrox::Status record_program(const TraceOptions& options, bool on_virtual_pc) {
  OutputFile file(options.output);
  std::ostream& out = file.stream();
  if (!out) return ferrox::Error{"cannot write " + options.output};
  ferrox::recording::FileHead head = ferrox::recording::file_head(on_virtual_pc ? ferrox::recording::RecordedOnVirtualPc : 0, ferrox::recording::monotonic_ns());
  out.write(reinterpret_cast<const char*>(&head), sizeof head);
  std::size_t calls = 0;
  ferrox::Status status = run_traced(options.program, on_virtual_pc, [&](ferrox::recording::Event event, std::span<const std::uint8_t> bytes) {
    calls += event.is_call();
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  });
  if (!file.close()) return ferrox::Error{"cannot write " + options.output};
  if (status) std::cerr << fmt::format("ferrox: recorded {} calls in {}\n", calls, options.output);
  return status;
}

// A recording that came on standard input, kept in a file of its own while the program runs: the
// program's virtual PC reads its recording by name.
class RecordingCopy {
 public:
  RecordingCopy() = default;
  RecordingCopy(const RecordingCopy&) = delete;
  RecordingCopy& operator=(const RecordingCopy&) = delete;
  ~RecordingCopy() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  ferrox::Result<ferrox::recording::Recording> load_standard_input() {
    ferrox::Result<std::string> bytes = ferrox::ReadWholeFile("-", ferrox::recording::MaxRecordingBytes);
    if (!bytes) return ferrox::Error{"cannot be read: " + bytes.error().Message, 0, "standard input"};
    FERROX_TRY_ASSIGN(ferrox::recording::Recording recording,
                      ferrox::recording::parse_recording(
                          std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()), "standard input"));
    std::string path = (std::filesystem::temp_directory_path() / "ferrox-replay-XXXXXX").string();
    int descriptor = ::mkstemp(path.data());
    if (descriptor < 0) return ferrox::Error{fmt::format("cannot keep the recording in {}: {}", path, std::strerror(errno))};
    path_ = path;
    bool written = ::write(descriptor, bytes->data(), bytes->size()) == static_cast<ssize_t>(bytes->size());
    if (::close(descriptor) != 0 || !written)
      return ferrox::Error{fmt::format("cannot keep the recording in {}: {}", path, std::strerror(errno))};
    return recording;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

ferrox::Status replay_program(const TraceOptions& options) {
  RecordingCopy copy;
  bool piped = options.recording == "-";
  FERROX_TRY_ASSIGN(ferrox::recording::Recording recording,
                    piped ? copy.load_standard_input() : ferrox::recording::load_recording(options.recording));
  std::string file = piped ? copy.path() : options.recording, source = piped ? "standard input" : options.recording;
  if (ferrox::Status replayable = recording.replayable(); !replayable)
    return ferrox::Error{replayable.error().Message, 0, source};
  FERROX_TRY_ASSIGN(std::string machine, virtual_pc_preload());
  std::error_code error;
  std::string loose = std::string(options.loose_timing ? "timing," : "") + (options.loose_polling ? "polling" : "");
  ProgramRun run{options.program,
                 {machine},
                 {{VPC_REPLAY_VARIABLE, std::filesystem::absolute(file, error).string()},
                  {VPC_REPLAY_LOOSE_VARIABLE, loose}},
                 VPC_REPLAY_REPORT_VARIABLE};
  std::string report;
  FERROX_TRY_ASSIGN(Ending ended, run_program(run, [&report](std::span<const std::uint8_t> bytes) {
                      report.append(bytes.begin(), bytes.end());
                    }));
  if (!report.empty()) {
    if (report.back() == '\n') report.pop_back();
    return ferrox::Error{report};
  }
  FERROX_TRY(ended_well(options.program[0], ended));
  std::cerr << fmt::format("ferrox: replay: the program made the {} calls of {}\n", recording.call_count(), source);
  return ferrox::Done{};
}

CLI::App* program_command(CLI::App& app, const char* name, const char* description, TraceOptions& options) {
  CLI::App* command = app.add_subcommand(name, description);
  command->add_option("program", options.program, "The program and its arguments, after --")->type_name("PROGRAM ARGS...");
  return command;
}

}  // namespace

void add_trace_commands(CLI::App& app, Command& selected) {
  auto options = std::make_shared<TraceOptions>();

  CLI::App* trace = program_command(app, "trace", "Run a program and show, decoded, what it asks of the driver and what comes back", *options);
  trace->add_option("-o,--output", options->output,
                    "Write the trace to this file instead of standard error, where each line begins with [trace] "
                    "(standard output with --from)")
      ->type_name("FILE");
  trace->add_flag("--all", options->all, "A line for every call: no run of identical calls shown as one line");
  trace->add_option("--from", options->from, "Show a recording (ferrox record; - for standard input) instead of running a program")->type_name("RECORDING");
  add_json_flag(trace, options->json);
  trace->callback([&selected, options] {
    if (options->program.empty() == options->from.empty())
      selected = refused({"trace: give a program after --, or --from RECORDING (--help tells more)"});
    else if (options->json && options->output.empty() && options->from.empty())
      selected = refused({"trace --json needs -o FILE: on standard error its objects would mix with what the program "
                          "writes there (-o /dev/stderr all the same)"});
    else if (!options->from.empty())  // runs nothing: no platform to choose
      selected = {Needs::Nothing, [options](ferrox::TFerrox32*) { return trace_program(*options, false); }};
    else
      selected = {Needs::Program, nullptr, [options](bool on_virtual_pc) { return trace_program(*options, on_virtual_pc); }};
  });

  CLI::App* record = program_command(app, "record", "Run a program and keep what came back from the driver, to replay it", *options);
  record->add_option("-o,--output", options->output, "The recording to write")->type_name("FILE")->required();
  record->get_option("program")->required();
  record->callback([&selected, options] {
    selected = {Needs::Program, nullptr, [options](bool on_virtual_pc) { return record_program(*options, on_virtual_pc); }};
  });

  CLI::App* replay = app.add_subcommand("replay", "Run a program on the virtual PC answered from a recording, checking each call");
  replay->add_option("recording", options->recording, "A recording of ferrox record; - for standard input")->type_name("RECORDING")->required();
  replay->add_option("program", options->program, "The program and its arguments, after --")->type_name("PROGRAM ARGS...")->required();
  replay->add_flag("--loose-timing", options->loose_timing, "Do not hold the program to the waits between calls of the recording");
  replay->add_flag("--loose-polling", options->loose_polling,
                   "Let a polling program read a port or PCI register more or fewer times than recorded");
  replay->callback([&selected, options] {
    selected = {Needs::ProgramOnVirtualPc, nullptr, [options](bool) { return replay_program(*options); }};
  });
}

}  // namespace ferrox_tool
