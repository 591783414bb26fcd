// SPDX-License-Identifier: MIT
// The records of HW_Types as Python objects: TMemRec for the mapped-memory requests, TPciCfg (a
// PCI function's header, as bytes and by field) and TInterruptHandler, opaque to Python.
#include <pybind11/pybind11.h>

#include <cstring>
#include <memory>

#include "ferrox/hwtypes/HW_Types.h"
#include "python/src/arguments.h"
#include "python/src/component.h"

namespace ferrox::python {

namespace {

template <class Record, class Field>
void DefField(py::class_<Record, std::unique_ptr<Record>>& Class, const char* Name, Field Record::*Member, const char* Doc) {
  Class.def_property(
      Name, [Member](const Record& R) { return R.*Member; },
      [Member](Record& R, Checked<Field> Value) { R.*Member = Value; }, Doc);
}

void BindMemRec(py::module_& Module) {
  py::class_<TMemRec, std::unique_ptr<TMemRec>> c(Module, "TMemRec", py::buffer_protocol(),
                                                  "The record of fReadMappedMemory and fWriteMappedMemory: a 16-byte head and "
                                                  "65536 bytes of Data (its buffer is Data).");
  c.def(py::init([] { return std::unique_ptr<TMemRec>(new TMemRec{}); }), "A record of zeros.");
  DefField(c, "PhysAddr", &TMemRec::PhysAddr, "The physical address of the window's first byte.");
  DefField(c, "Offset", &TMemRec::Offset, "The transfer's byte offset within the window.");
  DefField(c, "LinearAddr", &TMemRec::LinearAddr, "The window's handle, as fMapPhysToLinear gave it.");
  DefField(c, "Count", &TMemRec::Count, "Bytes to transfer.");
  c.def_buffer([](TMemRec& R) { return py::buffer_info(R.Data, sizeof R.Data, false); });
  // A view that holds the record alive.
  c.def_property_readonly("Data", [](py::object Self) { return py::memoryview(Self); },
                          "Data as a writable memoryview; Data[0] is the byte at PhysAddr + Offset.");
}

void BindPciCfg(py::module_& Module) {
  py::class_<TPciCfg, std::unique_ptr<TPciCfg>> c(Module, "TPciCfg", py::buffer_protocol(),
                                                  "A PCI function's 64-byte configuration header, by field and as bytes(cfg).");
  c.def(py::init([] { return std::unique_ptr<TPciCfg>(new TPciCfg{}); }), "A header of zeros.");
  DefField(c, "VendorID", &TPciCfg::VendorID, "");
  DefField(c, "DeviceID", &TPciCfg::DeviceID, "");
  DefField(c, "Command", &TPciCfg::Command, "");
  DefField(c, "Status", &TPciCfg::Status, "");
  DefField(c, "RevisionID", &TPciCfg::RevisionID, "");
  DefField(c, "ProgIf", &TPciCfg::ProgIf, "");
  DefField(c, "SubClass", &TPciCfg::SubClass, "");
  DefField(c, "ClassCode", &TPciCfg::ClassCode, "");
  DefField(c, "CacheLineSize", &TPciCfg::CacheLineSize, "");
  DefField(c, "LatencyTimer", &TPciCfg::LatencyTimer, "");
  DefField(c, "HeaderType", &TPciCfg::HeaderType, "");
  DefField(c, "Bist", &TPciCfg::Bist, "");
  DefField(c, "CardbusCis", &TPciCfg::CardbusCis, "");
  DefField(c, "SubsystemVendorID", &TPciCfg::SubsystemVendorID, "");
  DefField(c, "SubsystemID", &TPciCfg::SubsystemID, "");
  DefField(c, "ExpansionRom", &TPciCfg::ExpansionRom, "");
  DefField(c, "CapabilitiesPointer", &TPciCfg::CapabilitiesPointer, "");
  DefField(c, "InterruptLine", &TPciCfg::InterruptLine, "");
  DefField(c, "InterruptPin", &TPciCfg::InterruptPin, "");
  DefField(c, "MinGrant", &TPciCfg::MinGrant, "");
  DefField(c, "MaxLatency", &TPciCfg::MaxLatency, "");
  c.def_property_readonly(
      "BaseAddress",
      [](const TPciCfg& C) {
        py::tuple bars(6);
        for (std::size_t i = 0; i < 6; ++i) bars[i] = C.BaseAddress[i];
        return bars;
      },
      "The six base address registers, as read.");
  c.def_buffer([](TPciCfg& C) { return py::buffer_info(reinterpret_cast<Byte*>(&C), sizeof C, false); });
  c.def("__bytes__", [](const TPciCfg& C) { return py::bytes(reinterpret_cast<const char*>(&C), sizeof C); });
  c.def("__repr__", [](const TPciCfg& C) {
    char text[96];
    std::snprintf(text, sizeof text, "<TPciCfg %04x:%04x class %02x%02x%02x rev %02x>", C.VendorID, C.DeviceID,
                  C.ClassCode, C.SubClass, C.ProgIf, C.RevisionID);
    return std::string(text);
  });
}

void BindInterruptHandler(py::module_& Module) {
  py::class_<TInterruptHandler> c(Module, "TInterruptHandler",
                                  "An OnHwInterrupt handler (code and object), as C++ assigned it; opaque to Python.");
  c.def("Assigned", &TInterruptHandler::Assigned, "True when there is code to call.");
  c.def("__eq__", [](const TInterruptHandler& A, const TInterruptHandler& B) { return A == B; });
  c.def("__hash__", [](const TInterruptHandler& H) {
    return std::hash<const void*>()(reinterpret_cast<const void*>(H.Code)) ^ std::hash<void*>()(H.Data);
  });
}

}  // namespace

void BindRecords(py::module_& Module) {
  BindMemRec(Module);
  BindPciCfg(Module);
  BindInterruptHandler(Module);
}

}  // namespace ferrox::python
