// SPDX-License-Identifier: MIT
// Decoding the records of each request as the driver contract lays them out.
#include "ferrox/recording/event_decoding.h"

#include <string.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/recording/hardware_names.h"

namespace ferrox::recording {

namespace {

using namespace ferrox::Request;

// Bytes of a record not kept (a record the program could not hand over) read 0.
template <class Record>
Record as(const std::vector<std::uint8_t>& bytes) {
  Record record{};
  if (!bytes.empty()) std::memcpy(&record, bytes.data(), bytes.size() < sizeof record ? bytes.size() : sizeof record);
  return record;
}

std::span<const std::uint8_t> window_data(const std::vector<std::uint8_t>& record) {
  if (record.size() <= ferrox::MemRecHeadSize) return {};
  return std::span<const std::uint8_t>(record).subspan(ferrox::MemRecHeadSize);
}

unsigned port_width(std::uint32_t code) {
  switch (code) {
    case PortInW:
    case PortOutW:
      return 2;
    case PortInL:
    case PortOutL:
      return 4;
    default:
      return 1;
  }
}

void decode_port(const Event& event, Decoded& out, bool output) {
  unsigned width = port_width(event.head.code);
  auto sent = as<ferrox::TPortRecord>(event.sent);
  out.operation = output ? "port out" : "port in";
  out.asked = {{"port", sent.Port, 4}, {"width", width}};
  std::uint32_t value = output ? sent.Value : as<ferrox::TPortRecord>(event.returned).Value;
  if (output) out.asked.push_back({"value", value, static_cast<int>(2 * width)});
  else if (!out.failed) out.answered.push_back({"value", value, static_cast<int>(2 * width)});
  out.note = port_name(sent.Port, output, out.failed && !output ? std::nullopt : std::optional<std::uint32_t>(value));
}

void decode_window(const Event& event, Decoded& out, bool write) {
  auto head = as<ferrox::TMemRec>(event.sent);
  out.operation = write ? "mem write" : "mem read";
  out.asked = {{"phys", head.PhysAddr, 8}, {"offset", head.Offset, 0}, {"linear", head.LinearAddr, 8}, {"count", head.Count}};
  out.data = window_data(write ? event.sent : event.returned);
  out.data_asked = write;
}

void decode_pci(const Event& event, Decoded& out, bool write) {
  auto sent = as<ferrox::TPciRequest>(event.sent);
  out.asked = {{"bus", sent.Bus, 2}, {"device", static_cast<std::uint32_t>(sent.DevFn >> 3), 2}, {"function", sent.DevFn & 7u, 1}};
  if (!write && sent.Count == ferrox::PciHeaderCount) {
    out.operation = "pci header";
    if (!out.failed) out.answered.push_back({"found", static_cast<std::uint64_t>(event.head.result)});
    if (event.head.result == 1) out.data = event.returned;
    return;
  }
  out.operation = write ? "pci write" : "pci read";
  out.asked.push_back({"register", sent.Reg, 3});
  out.asked.push_back({"width", sent.Count});
  int digits = 2 * (sent.Count <= 4 ? sent.Count : 4);
  if (write) out.asked.push_back({"value", sent.Value, digits});
  else if (!out.failed) out.answered.push_back({"value", static_cast<std::uint32_t>(event.head.result), digits});
  out.note = pci_register_name(sent.Reg, sent.Count);
}

void decode_irq(const Event& event, Decoded& out, bool unmask) {
  auto sent = as<ferrox::TIrqRequest>(event.sent);
  out.operation = unmask ? "irq unmask" : "irq mask";
  out.asked = {{"line", sent.Irq}, {"signal", static_cast<std::uint32_t>(sent.SignalNumber)}};
  out.context = {{"process", static_cast<std::uint32_t>(sent.ProcessId)}};
  if (unmask) out.context.push_back({"cookie", sent.Component, 8});
}

void decode_request(const Event& event, Decoded& out) {
  switch (event.head.code) {
    case Map:
      out.operation = "map";
      out.asked = {{"phys", as<ferrox::TMemRec>(event.sent).PhysAddr, 8}, {"size", as<ferrox::TMemRec>(event.sent).Count}};
      out.answered = {{"linear", as<ferrox::TMemRec>(event.returned).LinearAddr, 8}};
      return;
    case Unmap:
      out.operation = "unmap";
      out.asked = {{"linear", as<std::uint32_t>(event.sent), 8}};
      return;
    case PortInB:
    case PortInW:
    case PortInL:
      return decode_port(event, out, false);
    case PortOutB:
    case PortOutW:
    case PortOutL:
      return decode_port(event, out, true);
    case ReadWindow:
    case WriteWindow:
      return decode_window(event, out, event.head.code == WriteWindow);
    case PciRead:
    case PciWrite:
      return decode_pci(event, out, event.head.code == PciWrite);
    case IrqUnmask:
    case IrqMask:
      return decode_irq(event, out, event.head.code == IrqUnmask);
    case IrqCount:
      out.operation = "irq count";
      out.asked = {{"line", event.head.argument}};
      if (!out.failed) out.answered = {{"count", static_cast<std::uint32_t>(event.head.result)}};
      return;
    default:
      out.operation = "request";
      out.asked = {{"code", event.head.code, 8}};
      out.data = event.sent;
      out.data_asked = true;
  }
}

void decode_trapped(const Event& event, Decoded& out, bool output) {
  const EventHead& head = event.head;
  out.operation = output ? "trapped out" : "trapped in";
  out.asked = {{"port", head.argument, 4}, {"width", head.code}, {"count", head.extra}};
  bool single = head.extra == 1 && (output ? event.sent.empty() : event.returned.empty());
  if (single && output) out.asked.push_back({"value", head.value, static_cast<int>(2 * head.code)});
  if (single && !output) out.answered.push_back({"value", head.value, static_cast<int>(2 * head.code)});
  out.data = output ? event.sent : event.returned;
  out.data_asked = output;
  out.note = port_name(head.argument, output, single ? std::optional<std::uint32_t>(head.value) : std::nullopt);
}

std::string field_text(const Field& field) {
  char text[64];
  if (field.digits) std::snprintf(text, sizeof text, "%s=0x%0*llx", field.name.c_str(), field.digits,
                                  static_cast<unsigned long long>(field.value));
  else std::snprintf(text, sizeof text, "%s=%llu", field.name.c_str(), static_cast<unsigned long long>(field.value));
  return text;
}

std::string fields_text(const std::vector<Field>& fields) {
  std::string text;
  for (const Field& field : fields) text += " " + field_text(field);
  return text;
}

// The first bytes, as a short hexdump.
std::string data_text(std::span<const std::uint8_t> data) {
  constexpr std::size_t Shown = 16;
  std::string text = " data=";
  for (std::size_t i = 0; i < data.size() && i < Shown; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%s%02x", i ? " " : "", data[i]);
    text += byte;
  }
  if (data.size() > Shown) text += " ... (" + std::to_string(data.size()) + " bytes)";
  return text;
}

}  // namespace

Decoded decode(const Event& event) {
  Decoded out;
  const EventHead& head = event.head;
  out.failed = event.is_call() && head.result == -1;
  out.error = out.failed ? head.error : 0;
  switch (event.kind()) {
    case Kind::Open:
      out.operation = "open";
      out.asked = {{"flags", head.code, 4}};
      if (!out.failed) out.answered = {{"fd", static_cast<std::uint32_t>(head.result)}};
      out.note = ferrox::DriverDevicePath;
      break;
    case Kind::Close:
      out.operation = "close";
      out.context = {{"fd", static_cast<std::uint32_t>(head.fd)}};
      break;
    case Kind::Request:
      out.context = {{"fd", static_cast<std::uint32_t>(head.fd)}};
      decode_request(event, out);
      if (event.sent.empty() && ferrox::RecordSize(head.code, 0) != 0) {
        // The program handed over a record the driver could not read: its fields are unknown.
        out.asked.clear();
        out.answered.clear();
        out.data = {};
        out.note = "the record was out of reach";
      }
      break;
    case Kind::Signal:
      out.operation = "signal";
      out.asked = {{"signal", head.code}, {"line", head.argument}};
      out.context = {{"cookie", head.value, 8}};
      break;
    case Kind::Iopl:
      out.operation = "iopl";
      out.asked = {{"level", head.argument}};
      break;
    case Kind::Ioperm:
      out.operation = "ioperm";
      out.asked = {{"from", head.argument, 4}, {"count", head.value}, {"turn_on", head.extra}};
      break;
    case Kind::PortIn:
    case Kind::PortOut:
      decode_trapped(event, out, event.kind() == Kind::PortOut);
      break;
  }
  return out;
}

bool is_poll(const Event& event) {
  if (event.kind() == Kind::PortIn) return true;
  if (event.kind() != Kind::Request) return false;
  std::uint32_t code = event.head.code;
  if (code == PortInB || code == PortInW || code == PortInL) return true;
  return code == PciRead && as<ferrox::TPciRequest>(event.sent).Count != ferrox::PciHeaderCount;
}

std::string describe(const Decoded& decoded, bool with_answer) {
  std::string text = decoded.operation + fields_text(decoded.asked);
  if (decoded.data_asked && !decoded.data.empty()) text += data_text(decoded.data);
  if (!with_answer) return text;
  if (decoded.failed) {
    const char* name = strerrorname_np(decoded.error);
    return text + " -> failed " + (name ? name : "errno " + std::to_string(decoded.error));
  }
  if (decoded.answered.empty() && (decoded.data_asked || decoded.data.empty())) return text;
  text += " ->" + fields_text(decoded.answered);
  if (!decoded.data_asked && !decoded.data.empty()) text += data_text(decoded.data);
  return text;
}

}  // namespace ferrox::recording
