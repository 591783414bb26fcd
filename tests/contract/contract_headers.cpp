// SPDX-License-Identifier: MIT
// The driver's C header and the library's C++ contract describe the same requests and records: a
// difference fails the build, on each ABI the suite is built for.
#include <cstddef>

#include "driver/ferrox_ioctl.h"
#include "ferrox/hwtypes/DriverContract.h"

namespace {

namespace Request = ferrox::Request;
static_assert(FERROX_MAP == Request::Map && FERROX_UNMAP == Request::Unmap);
static_assert(FERROX_PORT_IN8 == Request::PortInB && FERROX_PORT_OUT8 == Request::PortOutB);
static_assert(FERROX_PORT_IN16 == Request::PortInW && FERROX_PORT_OUT16 == Request::PortOutW);
static_assert(FERROX_PORT_IN32 == Request::PortInL && FERROX_PORT_OUT32 == Request::PortOutL);
static_assert(FERROX_WINDOW_READ == Request::ReadWindow && FERROX_WINDOW_WRITE == Request::WriteWindow);
static_assert(FERROX_PCI_READ == Request::PciRead && FERROX_PCI_WRITE == Request::PciWrite);
static_assert(FERROX_IRQ_UNMASK == Request::IrqUnmask && FERROX_IRQ_MASK == Request::IrqMask);
static_assert(FERROX_IRQ_COUNT == Request::IrqCount);

static_assert(sizeof(ferrox_port_record) == sizeof(ferrox::TPortRecord));
static_assert(offsetof(ferrox_port_record, port) == offsetof(ferrox::TPortRecord, Port));
static_assert(offsetof(ferrox_port_record, value) == offsetof(ferrox::TPortRecord, Value));
static_assert(sizeof(ferrox_memory_head) == ferrox::MemRecHeadSize);
static_assert(offsetof(ferrox_memory_head, phys_addr) == offsetof(ferrox::TMemRec, PhysAddr));
static_assert(offsetof(ferrox_memory_head, offset) == offsetof(ferrox::TMemRec, Offset));
static_assert(offsetof(ferrox_memory_head, linear_addr) == offsetof(ferrox::TMemRec, LinearAddr));
static_assert(offsetof(ferrox_memory_head, count) == offsetof(ferrox::TMemRec, Count));
static_assert(FERROX_TRANSFER_MAX == ferrox::MemRecDataSize);
static_assert(sizeof(ferrox_pci_request) == sizeof(ferrox::TPciRequest));
static_assert(offsetof(ferrox_pci_request, bus) == offsetof(ferrox::TPciRequest, Bus));
static_assert(offsetof(ferrox_pci_request, devfn) == offsetof(ferrox::TPciRequest, DevFn));
static_assert(offsetof(ferrox_pci_request, reg) == offsetof(ferrox::TPciRequest, Reg));
static_assert(offsetof(ferrox_pci_request, count) == offsetof(ferrox::TPciRequest, Count));
static_assert(offsetof(ferrox_pci_request, value) == offsetof(ferrox::TPciRequest, Value));
static_assert(FERROX_PCI_HEADER_SIZE == sizeof(ferrox::TPciCfg) && FERROX_PCI_HEADER_SIZE == ferrox::PciHeaderCount);
static_assert(sizeof(ferrox_irq_request) == sizeof(ferrox::TIrqRequest));
static_assert(offsetof(ferrox_irq_request, process_id) == offsetof(ferrox::TIrqRequest, ProcessId));
static_assert(offsetof(ferrox_irq_request, signal) == offsetof(ferrox::TIrqRequest, SignalNumber));
static_assert(offsetof(ferrox_irq_request, irq) == offsetof(ferrox::TIrqRequest, Irq));
static_assert(offsetof(ferrox_irq_request, cookie) == offsetof(ferrox::TIrqRequest, Component));
static_assert(FERROX_REQUEST_TYPE == ferrox::RequestType);

}  // namespace
