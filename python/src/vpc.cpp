// SPDX-License-Identifier: MIT
// ferrox._ferrox.vpc: the virtual PC's control entries (ferrox/vpc/control.h), found with dlsym
// in a process that has the virtual PC in front (preloaded), as the ferrox tool finds them; on the
// real driver they are not there, and every call but in_front() says so.
#include <dlfcn.h>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ferrox/common/LoadedLibrary.h"
#include "ferrox/vpc/control.h"
#include "python/src/arguments.h"
#include "python/src/component.h"

namespace ferrox::python {

namespace {

template <class Entry>
Entry Find(const char* Name) {
  auto entry = reinterpret_cast<Entry>(dlsym(RTLD_DEFAULT, Name));
  if (!entry)
    throw std::runtime_error(std::string("the virtual PC is not in front (") + Name +
                          " is not there): run the program with LD_PRELOAD=" FERROX_VPC_SONAME
                          ", or pytest with --ferrox-vpc");
  return entry;
}

void CheckStatus(int Status, const char* Message) {
  if (Status != 0) throw std::runtime_error(std::string("virtual PC: ") + Message);
}

const char* EventName(int Event) {
  static const char* const names[] = {"open", "close", "request", "iopl", "ioperm", "port_in", "port_out"};
  return Event >= 0 && Event < 7 ? names[Event] : "unknown";
}

struct LogEntry {
  vpc_log_entry Entry;
};

py::list LogEntries() {
  auto entries = Find<vpc_log_entries_entry>("vpc_log_entries");
  std::vector<vpc_log_entry> kept(entries(nullptr, 0));
  kept.resize(std::min(kept.size(), entries(kept.data(), kept.size())));
  py::list list;
  for (const vpc_log_entry& entry : kept) list.append(LogEntry{entry});
  return list;
}

py::bytes PrinterOutput(Checked<std::uint16_t> Base) {
  auto output = Find<vpc_printer_output_entry>("vpc_printer_output");
  std::string bytes(output(Base, nullptr, 0), '\0');
  bytes.resize(std::min(bytes.size(), output(Base, bytes.data(), bytes.size())));
  return py::bytes(bytes);
}

void Reset(std::optional<std::string> Text, std::optional<std::string> File) {
  char message[1024];
  CheckStatus(Find<vpc_reset_entry>("vpc_reset")(Text ? Text->c_str() : nullptr, File ? File->c_str() : nullptr,
                                                 message, sizeof message),
              message);
}

void Start() {
  char message[1024];
  CheckStatus(Find<vpc_start_entry>("vpc_start")(message, sizeof message), message);
}

}  // namespace

void BindVirtualPc(py::module_& Module) {
  py::module_ m = Module.def_submodule("vpc", "The virtual PC's control entries, when it is in front.");
  m.def("in_front", [] { return dlsym(RTLD_DEFAULT, "vpc_start") != nullptr; },
        "True when this process has the virtual PC in front of the C library.");
  m.def("library", [] { return LibraryBeside(FERROX_LIBRARY_SONAME, FERROX_VPC_SONAME).string(); },
        "The virtual PC's library beside the loaded libferrox, or '' when it is not there.");
  m.def("start", &Start, "Starts the machine the environment describes; RuntimeError with the reason.");
  m.def("reset", &Reset, py::arg("machine_text") = py::none(), py::arg("machine_file") = py::none(),
        "Rebuilds the machine from a machine file's text, or the one the process started on.");
  m.def("log_record", [](std::size_t Capacity) { Find<vpc_log_record_entry>("vpc_log_record")(Capacity); },
        py::arg("capacity"));
  m.def("log_entries", &LogEntries);
  m.def("log_dropped", [] { return Find<vpc_log_dropped_entry>("vpc_log_dropped")(); });
  m.def("refuse_open", [](Checked<int> Error) { Find<vpc_refuse_open_entry>("vpc_refuse_open")(Error); }, py::arg("errno"));
  m.def("fail_request", [](Checked<std::uint8_t> Number, Checked<int> Error, bool Once) {
    Find<vpc_fail_request_entry>("vpc_fail_request")(Number, Error, Once);
  }, py::arg("number"), py::arg("errno"), py::arg("once"));
  m.def("refuse_map", [](bool Once) { Find<vpc_refuse_map_entry>("vpc_refuse_map")(Once); }, py::arg("once"));
  m.def("printer_output", &PrinterOutput, py::arg("base"));
  m.def("raise_irq", [](Checked<std::uint8_t> Line) {
    if (Line >= IrqLineCount) OutOfRange("line", Line, 0, IrqLineCount - 1);
    Find<vpc_raise_irq_entry>("vpc_raise_irq")(Line);
  }, py::arg("line"));

  py::class_<LogEntry>(m, "LogEntry", "What crossed the boundary: an open, close, request, privilege call or port instruction.")
      .def_property_readonly("event", [](const LogEntry& L) { return EventName(L.Entry.event); })
      .def_property_readonly("fd", [](const LogEntry& L) { return L.Entry.fd; })
      .def_property_readonly("code", [](const LogEntry& L) { return L.Entry.code; })
      .def_property_readonly("number", [](const LogEntry& L) { return L.Entry.code & 0xFF; }, "The request's number.")
      .def_property_readonly("port", [](const LogEntry& L) { return L.Entry.port; })
      .def_property_readonly("width", [](const LogEntry& L) { return L.Entry.width; })
      .def_property_readonly("count", [](const LogEntry& L) { return L.Entry.count; })
      .def_property_readonly("value", [](const LogEntry& L) { return L.Entry.value; })
      .def_property_readonly("result", [](const LogEntry& L) { return L.Entry.result; })
      .def_property_readonly("error", [](const LogEntry& L) { return L.Entry.error; })
      .def_property_readonly("sent", [](const LogEntry& L) {
        return py::bytes(reinterpret_cast<const char*>(L.Entry.sent), L.Entry.sent_size);
      }, "The first bytes of the request's record, as sent.")
      .def_property_readonly("returned", [](const LogEntry& L) {
        return py::bytes(reinterpret_cast<const char*>(L.Entry.returned), L.Entry.returned_size);
      }, "The same, as the driver left them.")
      .def("__repr__", [](const LogEntry& L) {
        return std::string("<LogEntry ") + EventName(L.Entry.event) + " code=" + std::to_string(L.Entry.code & 0xFF) +
               " port=" + std::to_string(L.Entry.port) + " result=" + std::to_string(L.Entry.result) + ">";
      });
}

}  // namespace ferrox::python
