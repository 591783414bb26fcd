// SPDX-License-Identifier: MIT
// Printing the trace.
#include "tools/ferrox/trace/trace_printer.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <string.h>

#include "ferrox/recording/event_decoding.h"

namespace ferrox_tool {

namespace {

std::string hex_bytes(std::span<const std::uint8_t> data) {
  std::string text;
  for (std::uint8_t byte : data) text += fmt::format("{:02x}", byte);
  return text;
}

void add_fields(nlohmann::json& object, const std::vector<ferrox::recording::Field>& fields) {
  for (const ferrox::recording::Field& field : fields) object[field.name] = field.value;
}

nlohmann::json event_json(const ferrox::recording::Event& event, const ferrox::recording::Decoded& decoded, double seconds) {
  nlohmann::json object = {{"time", seconds}, {"event", decoded.operation}, {"process", event.head.process}};
  if (event.is_call()) object["sequence"] = event.head.sequence;
  add_fields(object, decoded.asked);
  add_fields(object, decoded.answered);
  add_fields(object, decoded.context);
  if (!decoded.data.empty()) object["data"] = hex_bytes(decoded.data);
  if (event.is_call()) object["result"] = event.head.result;
  if (decoded.failed) {
    const char* name = strerrorname_np(decoded.error);
    object["error"] = name ? name : std::to_string(decoded.error);
  }
  if (!decoded.note.empty()) object["name"] = decoded.note;
  return object;
}

std::string context_text(const std::vector<ferrox::recording::Field>& fields) {
  std::string text;
  for (const ferrox::recording::Field& field : fields)
    text += fmt::format("{}{}={}", text.empty() ? " [" : " ", field.name,
                        field.digits ? fmt::format("{:#0{}x}", field.value, field.digits + 2) : std::to_string(field.value));
  return text.empty() ? text : text + "]";
}

// On the real driver port instructions go straight to the hardware once the process may use them.
bool raises_privilege(const ferrox::recording::Event& event) {
  if (event.head.result != 0) return false;
  if (event.kind() == ferrox::recording::Kind::Iopl) return event.head.argument > 0;
  return event.kind() == ferrox::recording::Kind::Ioperm && event.head.extra != 0;
}

}  // namespace

void TracePrinter::add(ferrox::recording::Event event) {
  Process& process = processes_[{event.head.process, event.head.image}];
  process.held.emplace(std::make_pair(event.head.sequence, event.is_call()), std::move(event));
  print_ready(process);
}

void TracePrinter::print_ready(Process& process) {
  while (!process.held.empty()) {
    auto first = process.held.begin();
    auto [sequence, is_call] = first->first;
    if (is_call ? sequence != process.next_call : sequence > process.next_call) return;
    print(first->second);
    if (is_call) ++process.next_call;
    process.held.erase(first);
  }
}

void TracePrinter::finish() {
  for (auto& [id, process] : processes_) {
    for (const auto& [key, event] : process.held) print(event);
    process.held.clear();
  }
  write_held();
}

void TracePrinter::print(const ferrox::recording::Event& event) {
  ferrox::recording::Decoded decoded = ferrox::recording::decode(event);
  double seconds = static_cast<double>(event.head.time - started_) / 1e9;
  if (shape_.json) {
    out_ << event_json(event, decoded, seconds).dump() << '\n';
    return;
  }
  std::string place = event.is_call() ? fmt::format("#{}", event.head.sequence) : "";
  std::string process = processes_.size() > 1 ? fmt::format(" [process {}]", event.head.process) : "";
  std::string what = ferrox::recording::describe(decoded) + context_text(decoded.context) + process;
  if (!decoded.note.empty()) what += "  (" + decoded.note + ")";
  std::string after = !on_virtual_pc_ && raises_privilege(event)
                          ? "                  port instructions of this process now reach the hardware directly "
                            "and cannot be seen from user space"
                          : "";
  hold({fmt::format("{:10.6f} {:>6} ", seconds, place), std::move(what), std::move(after), event.is_call(),
        event.head.sequence});
}

void TracePrinter::hold(Line line) {
  if (held_ && !shape_.every_call && held_->is_call && line.is_call && held_->what == line.what &&
      held_->after == line.after) {
    ++held_->calls;
    held_->last_sequence = line.last_sequence;
    return;
  }
  write_held();
  held_ = std::move(line);
}

// "×998, to #1003" after a run's first line: how many calls it holds and the last of them.
void TracePrinter::write_held() {
  if (!held_) return;
  out_ << shape_.line_prefix << held_->start << held_->what;
  if (held_->calls > 1) out_ << fmt::format("  \u00d7{}, to #{}", held_->calls, held_->last_sequence);
  out_ << '\n';
  if (!held_->after.empty()) out_ << shape_.line_prefix << held_->after << '\n';
  held_.reset();
}

}  // namespace ferrox_tool
