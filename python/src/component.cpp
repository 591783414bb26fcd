// SPDX-License-Identifier: MIT
// ferrox.Ferrox32's C++ side: every public method of TFerrox32 under its own name, with the
// component's own results and state, and the arguments checked only so far as C++ would take
// them (a port must fit 16 bits, a buffer must hold the block).
#include <pybind11/pybind11.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/hwtypes/HW_Types.h"
#include "python/src/arguments.h"
#include "python/src/component.h"
#include "python/src/errors.h"
#include "python/src/events.h"

namespace ferrox::python {

namespace {

template <class T>
using Arg = std::conditional_t<std::is_same_v<T, bool>, bool, Checked<T>>;

// A method whose arguments are integers and Booleans, called with errno kept (Component::Calling).
template <auto Method>
struct Bound;

template <class R, class... A, R (TFerrox32::*Method)(A...)>
struct Bound<Method> {
  static R Call(Component& Self, Arg<A>... Args) {
    return Self.Calling([&](TFerrox32& C) { return (C.*Method)(Args...); });
  }
};

template <class R, class... A, R (TFerrox32::*Method)(A...) const>
struct Bound<Method> {
  static R Call(Component& Self, Arg<A>... Args) {
    return Self.Calling([&](TFerrox32& C) { return (C.*Method)(Args...); });
  }
};

// The port block transfers: Count elements of Width bytes from or to Buffer, which must hold them.
template <void (TFerrox32::*Method)(Word, std::uint32_t, void*), unsigned Width>
void ReadFifo(Component& Self, Checked<Word> Port, Checked<std::uint32_t> Count, py::handle Buffer) {
  BorrowedBuffer buffer(Buffer, true, "Buffer");
  buffer.Require(std::uint64_t{Count} * Width, "Count elements");
  Self.Calling([&](TFerrox32& C) { (C.*Method)(Port, Count, buffer.Data()); });
}

template <void (TFerrox32::*Method)(Word, std::uint32_t, const void*), unsigned Width>
void WriteFifo(Component& Self, Checked<Word> Port, Checked<std::uint32_t> Count, py::handle Buffer) {
  BorrowedBuffer buffer(Buffer, false, "Buffer");
  buffer.Require(std::uint64_t{Count} * Width, "Count elements");
  Self.Calling([&](TFerrox32& C) { (C.*Method)(Port, Count, buffer.Data()); });
}

void ReadPhysicalMemory(Component& Self, Checked<std::uint32_t> Base, Checked<std::uint32_t> Offset,
                        Checked<std::uint32_t> Count, py::handle Buffer) {
  BorrowedBuffer buffer(Buffer, true, "Buffer");
  buffer.Require(Count, "Count bytes");
  Self.Calling([&](TFerrox32& C) { C.ReadPhysicalMemory(Base, Offset, Count, buffer.Data()); });
}

void WritePhysicalMemory(Component& Self, Checked<std::uint32_t> Base, Checked<std::uint32_t> Offset,
                         Checked<std::uint32_t> Count, py::handle Buffer) {
  BorrowedBuffer buffer(Buffer, false, "Buffer");
  buffer.Require(Count, "Count bytes");
  Self.Calling([&](TFerrox32& C) { C.WritePhysicalMemory(Base, Offset, Count, buffer.Data()); });
}

// Physical memory as a new bytes object, read straight into it: the component's copy is the
// only one. Empty when nothing was read (see the convenience layer for why).
py::bytes ReadPhysicalBytes(Component& Self, Checked<std::uint32_t> Base, Checked<std::uint32_t> Offset,
                            Checked<std::uint32_t> Count) {
  PyObject* bytes = PyBytes_FromStringAndSize(nullptr, Count);
  if (!bytes) throw py::error_already_set();
  auto result = py::reinterpret_steal<py::bytes>(bytes);
  Self.Calling([&](TFerrox32& C) { C.ReadPhysicalMemory(Base, Offset, Count, PyBytes_AS_STRING(bytes)); });
  return result;
}

[[noreturn]] void DriverClosed() { RaiseOSError(EBADF, "the driver is not open (open() opens it)", DriverDevicePath); }

// The convenience layer's port transfers, in one call each, for the cost of a single call: a port
// and value that fit the width, the driver open, and a request the driver refused raised as
// OSError. A direct transfer whose grant is refused goes through the driver, as the component's
// own does, but for a 16-bit read, which then reads nothing and raises PermissionError.
std::string PortName(std::uint32_t Port) {
  char text[16];
  std::snprintf(text, sizeof text, "port %#x", Port);
  return text;
}

void CheckPortRange(std::uint32_t Port, unsigned Width) {
  if (Width != 1 && Width != 2 && Width != 4) throw py::value_error("width " + std::to_string(Width) + " is not 1, 2 or 4 (bytes)");
  if (Port > 0x10000u - Width) OutOfRange("port", Port, 0, 0x10000 - Width);
}

std::uint32_t ReadPort(Component& Self, Checked<std::uint32_t> Port, unsigned Width) {
  CheckPortRange(Port, Width);
  TFerrox32& pc = Self.Get();
  if (!pc.DriverActive()) DriverClosed();
  const bool throughDriver = pc.HardAccess();
  const Word port = static_cast<Word>(Port);
  if (!throughDriver && Width == 2 && !Self.Calling([&](TFerrox32& C) { return C.fSetIoPermission(port); }))
    RaiseOSError(Self.LastError() ? Self.LastError() : EPERM, "direct access to " + PortName(Port) + " refused (ioperm/iopl)");
  std::uint32_t value = Self.Calling([&](TFerrox32& C) -> std::uint32_t {
    return Width == 1 ? C.fGetPortB(port) : Width == 2 ? C.fGetPortW(port) : C.fGetPortL(port);
  });
  if (throughDriver && Self.LastError()) RaiseOSError(Self.LastError(), "reading " + PortName(Port) + ": the driver refused it", DriverDevicePath);
  return value;
}

void WritePort(Component& Self, Checked<std::uint32_t> Port, Checked<std::uint32_t> Value, unsigned Width) {
  CheckPortRange(Port, Width);
  if (Width < 4 && Value >= (1u << 8 * Width)) OutOfRange("value", Value, 0, (1 << 8 * Width) - 1);
  TFerrox32& pc = Self.Get();
  if (!pc.DriverActive()) DriverClosed();
  const bool throughDriver = pc.HardAccess();
  const Word port = static_cast<Word>(Port);
  Self.Calling([&](TFerrox32& C) {
    if (Width == 1) C.fSetPortB(port, static_cast<Byte>(Value));
    else if (Width == 2) C.fSetPortW(port, static_cast<Word>(Value));
    else C.fSetPortL(port, Value);
  });
  if (throughDriver && Self.LastError()) RaiseOSError(Self.LastError(), "writing " + PortName(Port) + ": the driver refused it", DriverDevicePath);
}

// The table is released with the last component: Python gets a copy, never a view into it.
py::bytes GetDebugCode(Component& Self) {
  const void* table = Self.Calling([](TFerrox32& C) { return C.GetDebugCode(); });
  return py::bytes(static_cast<const char*>(table), 65536);
}

void SetOnHwInterrupt(Component& Self, py::object Handler) {
  if (Handler.is_none()) return Self.Calling([](TFerrox32& C) { C.SetOnHwInterrupt({}); });
  if (!py::isinstance<TInterruptHandler>(Handler))
    throw py::type_error(
        "OnHwInterrupt runs inside the signal handler, where Python code cannot: give it a "
        "TInterruptHandler (from OnHwInterrupt() or InterruptEvents.handler), or None; "
        "Ferrox32.interrupts() gives the interrupts to Python");
  TInterruptHandler handler = Handler.cast<TInterruptHandler>();
  Self.Calling([&](TFerrox32& C) { C.SetOnHwInterrupt(handler); });
}

bool PciDeviceInfo(Component& Self, Checked<Word> Bus, Checked<Word> Device, Checked<Word> Function, TPciCfg& Cfg) {
  return Self.Calling([&](TFerrox32& C) { return C.PciDeviceInfo(Bus, Device, Function, Cfg); });
}

template <void (TFerrox32::*Method)(TMemRec*)>
void MappedMemory(Component& Self, TMemRec& Rec) {
  Self.Calling([&](TFerrox32& C) { (C.*Method)(&Rec); });
}

template <auto Method, class... Names>
void Def(py::class_<Component>& Class, const char* Name, const char* Doc, Names... ArgNames) {
  Class.def(Name, &Bound<Method>::Call, Doc, py::arg(ArgNames)...);
}

}  // namespace

Component::Component() : FComponent(framework::TComponent::Create<TFerrox32>(nullptr)) {}

void Component::Free() {
  if (!FComponent) return;
  // Closing detaches, and each events object then leaves this list.
  while (!FEvents.empty()) FEvents.back()->Close();
  FComponent->Free();
  FComponent = nullptr;
}

void Component::Detached(Events* DetachedEvents) {
  std::erase(FEvents, DetachedEvents);
}

void Component::ThrowFreed() { throw py::value_error("the component was freed"); }

void BindComponent(py::module_& Module) {
  py::class_<Component> c(Module, "Ferrox32", R"(TFerrox32: I/O ports, physical memory, PCI configuration space,
interrupts and the parallel port, through the kernel driver /dev/ferrox or with
the processor's port instructions.

The methods named as in C++ (OpenDriver, fGetPortB, ...) behave as the C++
component does: they raise nothing and report through their results and the
state (DriverActive(), HardAccess(), ...). The lower-case methods and properties
(open, read_port, pins, interrupts, ...) are conveniences that raise OSError with
the errno where something could not be done, and ValueError for arguments out of
range. An integer that does not fit the C++ argument's type is refused with
ValueError everywhere, never cut to fit.

All components of a process share its module-wide records (the driver's request
records, the permission table). Each call holds Python's lock from its start to its
end, so threads that each use their own component get their own answers, and
components are created and freed on any thread.)");
  c.def(py::init<>(), "Creates the component; it opens nothing.");
  c.def("Free", &Component::Free,
        "Frees the component the framework's way: closes the driver, drops the I/O privilege it raised "
        "and detaches its interrupt events. Later calls raise ValueError.");
  c.def_property_readonly("freed", &Component::Freed, "True once Free() was called.");
  c.def_property_readonly("_errno", &Component::LastError, "The errno the last call left (0 when none).");

  // Driver connection.
  Def<&TFerrox32::OpenDriver>(c, "OpenDriver", "Opens /dev/ferrox; DriverActive() says whether it opened.");
  Def<&TFerrox32::CloseDriver>(c, "CloseDriver", "Unmaps the window, masks the lines this component unmasked, closes the driver.");
  c.def("GetDebugCode", &GetDebugCode, "The module-wide permission table, as a copy: 65536 bytes, 1 where a direct-access grant is recorded.");

  // Single ports.
  Def<&TFerrox32::fGetPortB>(c, "fGetPortB", "8-bit read of Port (0xFF with the driver closed).", "Port");
  Def<&TFerrox32::fGetPortW>(c, "fGetPortW", "16-bit read of Port (0xFFFF with the driver closed).", "Port");
  Def<&TFerrox32::fGetPortL>(c, "fGetPortL", "32-bit read of Port (0xFF with the driver closed).", "Port");
  Def<&TFerrox32::fSetPortB>(c, "fSetPortB", "8-bit write of Value to Port.", "Port", "Value");
  Def<&TFerrox32::fSetPortW>(c, "fSetPortW", "16-bit write of Value to Port.", "Port", "Value");
  Def<&TFerrox32::fSetPortL>(c, "fSetPortL", "32-bit write of Value to Port.", "Port", "Value");

  // Port blocks, into and out of any buffer (bytearray, memoryview, array, numpy array).
  c.def("ReadPortFIFO", &ReadFifo<&TFerrox32::ReadPortFIFO, 1>, "Reads Count bytes from Port into Buffer, with port instructions.",
        py::arg("Port"), py::arg("Count"), py::arg("Buffer"));
  c.def("ReadPortWFIFO", &ReadFifo<&TFerrox32::ReadPortWFIFO, 2>, "Reads Count 16-bit values from Port into Buffer.",
        py::arg("Port"), py::arg("Count"), py::arg("Buffer"));
  c.def("ReadPortLFIFO", &ReadFifo<&TFerrox32::ReadPortLFIFO, 4>, "Reads Count 32-bit values from Port into Buffer.",
        py::arg("Port"), py::arg("Count"), py::arg("Buffer"));
  c.def("WritePortFIFO", &WriteFifo<&TFerrox32::WritePortFIFO, 1>, "Writes Count bytes of Buffer to Port.",
        py::arg("Port"), py::arg("Count"), py::arg("Buffer"));
  c.def("WritePortWFIFO", &WriteFifo<&TFerrox32::WritePortWFIFO, 2>, "Writes Count 16-bit values of Buffer to Port.",
        py::arg("Port"), py::arg("Count"), py::arg("Buffer"));
  c.def("WritePortLFIFO", &WriteFifo<&TFerrox32::WritePortLFIFO, 4>, "Writes Count 32-bit values of Buffer to Port.",
        py::arg("Port"), py::arg("Count"), py::arg("Buffer"));

  // Permissions and access mode.
  Def<&TFerrox32::fSetIoPermission>(c, "fSetIoPermission", "Asks for direct access to Port (ioperm below 0x400, iopl from 0x400 up).", "Port");
  Def<&TFerrox32::fResetAllPermissions>(c, "fResetAllPermissions", "Drops the raised I/O privilege and the grants from 0x400 up.");
  Def<&TFerrox32::fSetHardAccess>(c, "fSetHardAccess", "True: single ports through the driver; False: port instructions, where iopl is allowed.", "Value");
  Def<&TFerrox32::HardAccess>(c, "HardAccess", "True while single ports go through the driver.");

  // Physical memory.
  Def<&TFerrox32::fMapPhysToLinear>(c, "fMapPhysToLinear", "Maps Size bytes at PhysAddr; the window's handle, 0 when it cannot be mapped.", "PhysAddr", "Size");
  Def<&TFerrox32::fUnmapMemory>(c, "fUnmapMemory", "Releases the window.");
  c.def("fReadMappedMemory", &MappedMemory<&TFerrox32::fReadMappedMemory>, "Request 14 with Rec: Count bytes of the window into Rec.Data.", py::arg("Rec"));
  c.def("fWriteMappedMemory", &MappedMemory<&TFerrox32::fWriteMappedMemory>, "Request 15 with Rec: Count bytes of Rec.Data into the window.", py::arg("Rec"));
  Def<&TFerrox32::fGetMemB>(c, "fGetMemB", "The byte Index of the window at Base (0xFF with the driver closed, 0 unmappable).", "Base", "Index");
  Def<&TFerrox32::fGetMemW>(c, "fGetMemW", "The 16-bit value Index of the window at Base.", "Base", "Index");
  Def<&TFerrox32::fGetMemL>(c, "fGetMemL", "The 32-bit value Index of the window at Base.", "Base", "Index");
  Def<&TFerrox32::fSetMemB>(c, "fSetMemB", "Writes the byte Index of the window at Base.", "Base", "Index", "Value");
  Def<&TFerrox32::fSetMemW>(c, "fSetMemW", "Writes the 16-bit value Index of the window at Base.", "Base", "Index", "Value");
  Def<&TFerrox32::fSetMemL>(c, "fSetMemL", "Writes the 32-bit value Index of the window at Base.", "Base", "Index", "Value");
  c.def("ReadPhysicalMemory", &ReadPhysicalMemory, "Reads Count bytes at Base + Offset into Buffer.",
        py::arg("Base"), py::arg("Offset"), py::arg("Count"), py::arg("Buffer"));
  c.def("WritePhysicalMemory", &WritePhysicalMemory, "Writes Count bytes of Buffer at Base + Offset.",
        py::arg("Base"), py::arg("Offset"), py::arg("Count"), py::arg("Buffer"));
  c.def("_read_physical_bytes", &ReadPhysicalBytes, py::arg("Base"), py::arg("Offset"), py::arg("Count"));
  c.def("read_port", &ReadPort, "Reads port with a transfer of width bytes (1, 2 or 4); OSError where it cannot.",
        py::arg("port"), py::arg("width") = 1);
  c.def("write_port", &WritePort, "Writes value to port with a transfer of width bytes (1, 2 or 4); OSError where it cannot.",
        py::arg("port"), py::arg("value"), py::arg("width") = 1);

  // PCI configuration space.
  c.def("PciDeviceInfo", &PciDeviceInfo, "Fills Cfg with the function's 64-byte header; False where no function answers.",
        py::arg("Bus"), py::arg("Device"), py::arg("Function"), py::arg("Cfg"));
  Def<&TFerrox32::PciGetByte>(c, "PciGetByte", "8-bit configuration register Reg (0xFF where the read fails).", "Bus", "Device", "Function", "Reg");
  Def<&TFerrox32::PciGetWord>(c, "PciGetWord", "16-bit configuration register Reg.", "Bus", "Device", "Function", "Reg");
  Def<&TFerrox32::PciGetDword>(c, "PciGetDword", "32-bit configuration register Reg.", "Bus", "Device", "Function", "Reg");
  Def<&TFerrox32::PciSetByte>(c, "PciSetByte", "Writes the 8-bit register Reg.", "Bus", "Device", "Function", "Reg", "Value");
  Def<&TFerrox32::PciSetWord>(c, "PciSetWord", "Writes the 16-bit register Reg.", "Bus", "Device", "Function", "Reg", "Value");
  Def<&TFerrox32::PciSetDword>(c, "PciSetDword", "Writes the 32-bit register Reg.", "Bus", "Device", "Function", "Reg", "Value");

  // Interrupts.
  Def<&TFerrox32::UnmaskInterrupt>(c, "UnmaskInterrupt", "Asks the driver for the interrupts of Line (with OnHwInterrupt assigned).", "Line");
  Def<&TFerrox32::MaskInterrupt>(c, "MaskInterrupt", "Asks the driver to stop the interrupts of Line.", "Line");
  Def<&TFerrox32::InterruptCounter>(c, "InterruptCounter", "The driver's count of Line (0 with the driver closed, -1 where it fails).", "Line");
  Def<&TFerrox32::GetHandledCounter>(c, "GetHandledCounter", "Interrupts of Line this component handled since it was unmasked.", "Line");
  Def<&TFerrox32::fGetMasked>(c, "fGetMasked", "True while Line is masked.", "Line");
  Def<&TFerrox32::OnHwInterrupt>(c, "OnHwInterrupt", "The handler assigned (a TInterruptHandler).");
  c.def("SetOnHwInterrupt", &SetOnHwInterrupt, "Assigns a TInterruptHandler, or None; Python callables cannot run in signal context.",
        py::arg("Handler"));

  // The parallel port.
  Def<&TFerrox32::LPTNumber>(c, "LPTNumber", "The selected parallel port, from 1.");
  Def<&TFerrox32::fSetLPTNumber>(c, "fSetLPTNumber", "Selects a discovered port (ignored when out of range or closed).", "Number");
  Def<&TFerrox32::fSetLPTIrq>(c, "fSetLPTIrq", "Sets or clears the port's interrupt on acknowledge.", "Enable");
  Def<&TFerrox32::fSetLPTReadMode>(c, "fSetLPTReadMode", "Switches the data lines to input (True) or output.", "ReadMode");
  Def<&TFerrox32::fGetPin>(c, "fGetPin", "The level of Pin 1..17 (False out of range or closed).", "Pin");
  Def<&TFerrox32::fSetPin>(c, "fSetPin", "Puts Level on Pin 1..17.", "Pin", "Level");
  Def<&TFerrox32::fGetLPTAckwl>(c, "fGetLPTAckwl", "Acknowledge active.");
  Def<&TFerrox32::fGetLPTBusy>(c, "fGetLPTBusy", "Busy.");
  Def<&TFerrox32::fGetLPTPaperEnd>(c, "fGetLPTPaperEnd", "Paper end.");
  Def<&TFerrox32::fGetLPTSlct>(c, "fGetLPTSlct", "The select line low.");
  Def<&TFerrox32::fGetLPTError>(c, "fGetLPTError", "Error active.");
  Def<&TFerrox32::LPTStrobe>(c, "LPTStrobe", "A strobe pulse.");
  Def<&TFerrox32::LPTAutofd>(c, "LPTAutofd", "Asserts (True) or releases auto feed.", "Assert");
  Def<&TFerrox32::LPTInit>(c, "LPTInit", "An init pulse.");
  Def<&TFerrox32::LPTSlctIn>(c, "LPTSlctIn", "Init low, then select in released.");

  // Read-only state.
  Def<&TFerrox32::DriverActive>(c, "DriverActive", "True while the driver is open.");
  Def<&TFerrox32::DriverHandle>(c, "DriverHandle", "The driver's descriptor (-1 after a failed open).");
  Def<&TFerrox32::IoplLevel>(c, "IoplLevel", "The I/O privilege level this component raised: 0 or 3.");
  Def<&TFerrox32::Mapped>(c, "Mapped", "True while a window is mapped.");
  Def<&TFerrox32::MappedPhys>(c, "MappedPhys", "The physical address of the last map request.");
  Def<&TFerrox32::MappedSize>(c, "MappedSize", "The size of the last map request.");
  Def<&TFerrox32::MappedLinear>(c, "MappedLinear", "The window's handle from the last map request.");
  Def<&TFerrox32::LPTCount>(c, "LPTCount", "Parallel ports discovered: 0..3.");
  Def<&TFerrox32::LPTAddress>(c, "LPTAddress", "The base of discovered port Slot 1..3 (0 otherwise).", "Slot");
  Def<&TFerrox32::LPTBase>(c, "LPTBase", "The selected port's base.");
  Def<&TFerrox32::LPTIrq>(c, "LPTIrq", "The interrupt on acknowledge as last set.");
  Def<&TFerrox32::LPTReadMode>(c, "LPTReadMode", "Read mode as last set.");
  Def<&TFerrox32::LPTWriteShadow>(c, "LPTWriteShadow", "The last byte written to register 0..2.", "Register");
  Def<&TFerrox32::LPTReadShadow>(c, "LPTReadShadow", "The last byte read from register 0..2.", "Register");

  Module.def("driver_open_reason", &DriverOpenReason, py::arg("errno"),
             "What it usually means when /dev/ferrox does not open with this errno.");
}

}  // namespace ferrox::python
