# SPDX-License-Identifier: MIT
"""PC hardware from Python: I/O ports, physical memory, PCI configuration space,
interrupts and the parallel port, through the kernel driver /dev/ferrox.

    import ferrox

    with ferrox.Ferrox32() as pc:          # opens the driver; frees the component at the end
        pc.send(ord("A"))                  # a byte on LPT1's data lines, and the strobe
        print(pc.busy, pc.read_port(0x379))
        with pc.interrupts(7, timeout=1.0) as events:
            for event in events:           # until no interrupt came for a second
                print(event.line, event.time)

Ferrox32 has every method of the C++ component under its C++ name (OpenDriver,
fGetPortB, PciDeviceInfo, ...), which behave as in C++: results and state, no
exceptions. Its lower-case methods and properties are conveniences that raise
OSError (with its errno: PermissionError, FileNotFoundError, ...) where something
could not be done, and ValueError for arguments out of range.

ferrox.vpc drives the virtual PC when it is in front (LD_PRELOAD=libferrox-vpc.so.0,
or pytest --ferrox-vpc).
"""

from __future__ import annotations

import asyncio
import collections
import errno
import operator

from . import _ferrox
from ._ferrox import InterruptEvent, TInterruptHandler, TMemRec, TPciCfg, driver_open_reason

__all__ = [
    "DRIVER",
    "Ferrox32",
    "InterruptEvent",
    "InterruptEvents",
    "TInterruptHandler",
    "TMemRec",
    "TPciCfg",
    "driver_open_reason",
]

DRIVER = "/dev/ferrox"
IRQ_LINES = 16
LPT_PINS = 17

_FIFO_METHODS = {1: ("ReadPortFIFO", "WritePortFIFO"), 2: ("ReadPortWFIFO", "WritePortWFIFO"),
                 4: ("ReadPortLFIFO", "WritePortLFIFO")}
_PCI_METHODS = {1: ("PciGetByte", "PciSetByte"), 2: ("PciGetWord", "PciSetWord"), 4: ("PciGetDword", "PciSetDword")}


def _number(text: str, value: int) -> str:
    return str(value) if -256 < value < 256 else hex(value)


def _in_range(name: str, value, low: int, high: int) -> int:
    value = operator.index(value)
    if not low <= value <= high:
        raise ValueError(f"{name} {_number(name, value)} is outside {_number(name, low)}..{_number(name, high)}")
    return value


def _width(width) -> int:
    if width not in (1, 2, 4):
        raise ValueError(f"width {width!r} is not 1, 2 or 4 (bytes)")
    return width


def _byte_count(buffer) -> int:
    with memoryview(buffer) as view:
        return view.nbytes


class Ferrox32(_ferrox.Ferrox32):
    __doc__ = _ferrox.Ferrox32.__doc__

    # --- The driver.

    def __enter__(self) -> Ferrox32:
        try:
            return self.open()
        except BaseException:
            self.Free()
            raise

    def __exit__(self, *exception) -> None:
        self.Free()

    def open(self) -> Ferrox32:
        """Opens the driver and selects LPT1 where there is one (so that the control lines
        are written from what the port holds); OSError (PermissionError,
        FileNotFoundError, ...) with the reason when the driver does not open."""
        self.OpenDriver()
        error = self._errno
        if not self.DriverActive():
            error = error or errno.ENODEV
            raise OSError(error, driver_open_reason(error), DRIVER)
        # Selecting LPT1 reads its registers into the shadows that every pin and control write
        # starts from; left alone they hold zeros, which would hold the printer in reset.
        if self.LPTCount():
            self.fSetLPTNumber(1)
        return self

    def close(self) -> None:
        """Closes the driver (CloseDriver); the component stays, to be opened again."""
        self.CloseDriver()

    def _require_driver(self) -> None:
        if not self.DriverActive():
            raise OSError(errno.EBADF, "the driver is not open (open() opens it)", DRIVER)

    def _check(self, what: str) -> None:
        if self._errno:
            raise OSError(self._errno, f"{what}: the driver refused it", DRIVER)

    def _grant(self, port: int) -> None:
        if not self.fSetIoPermission(port):
            raise OSError(self._errno or errno.EPERM, f"direct access to port {port:#x} refused (ioperm/iopl)")

    # --- Ports.

    @property
    def hard_access(self) -> bool:
        """True: single ports go through the driver; False: port instructions. Setting False
        raises PermissionError where the process may not use them."""
        return self.HardAccess()

    @hard_access.setter
    def hard_access(self, value: bool) -> None:
        self.fSetHardAccess(bool(value))
        error = self._errno
        if not value and self.HardAccess():
            raise OSError(error or errno.EPERM, "direct port access refused: iopl was refused")

    def read_fifo(self, port: int, into, width: int = 1):
        """Reads a block from one port, element after element (port instructions): into an
        int gives a new bytearray of that many elements; into a writable buffer (bytearray,
        memoryview, array, numpy array) fills all of it, with no copy. Returns the buffer."""
        read = _FIFO_METHODS[_width(width)][0]
        port = _in_range("port", port, 0, 0x10000 - width)
        buffer = bytearray(_in_range("count", into, 0, 0xFFFFFFFF) * width) if isinstance(into, int) else into
        count = self._elements(buffer, width)
        self._grant(port)
        getattr(self, read)(port, count, buffer)
        return buffer

    def write_fifo(self, port: int, data, width: int = 1) -> None:
        """Writes every element of data (any buffer) to one port (port instructions)."""
        write = _FIFO_METHODS[_width(width)][1]
        port = _in_range("port", port, 0, 0x10000 - width)
        count = self._elements(data, width)
        self._grant(port)
        getattr(self, write)(port, count, data)

    @staticmethod
    def _elements(buffer, width: int) -> int:
        size = _byte_count(buffer)
        if size % width:
            raise ValueError(f"the buffer's {size} bytes are not whole elements of {width} bytes")
        return size // width

    # --- Physical memory.

    def _window(self, address: int, count: int) -> None:
        address = _in_range("address", address, 0, 0xFFFFFFFF)
        _in_range("count", count, 0, 0x100000000 - address)
        self._require_driver()
        # A window of exactly the block: the component's own would be a byte longer.
        self.fMapPhysToLinear(address, count)
        error = self._errno
        if not (self.Mapped() and self.MappedPhys() == address):
            raise OSError(error or errno.EPERM, f"the driver does not map {count} bytes at {address:#x}", DRIVER)

    def read_memory(self, address: int, count: int) -> bytes:
        """count bytes of physical memory from address, as bytes."""
        if count == 0:
            return b""
        self._window(address, count)
        data = self._read_physical_bytes(address, 0, count)
        self._check(f"reading {count} bytes at {address:#x}")
        return data

    def read_memory_into(self, address: int, buffer) -> None:
        """Fills a writable buffer with physical memory from address, with no copy of ours."""
        count = _byte_count(buffer)
        if count:
            self._window(address, count)
            self.ReadPhysicalMemory(address, 0, count, buffer)
            self._check(f"reading {count} bytes at {address:#x}")

    def write_memory(self, address: int, data) -> None:
        """Writes data (any buffer) to physical memory at address."""
        count = _byte_count(data)
        if count:
            self._window(address, count)
            self.WritePhysicalMemory(address, 0, count, data)
            self._check(f"writing {count} bytes at {address:#x}")

    # --- PCI configuration space.

    @staticmethod
    def _function(bus: int, device: int, function: int) -> None:
        _in_range("bus", bus, 0, 255)
        _in_range("device", device, 0, 31)
        _in_range("function", function, 0, 7)

    def pci_header(self, bus: int, device: int, function: int) -> TPciCfg | None:
        """The function's 64-byte header (fields, and bytes(header)); None where no function is."""
        self._function(bus, device, function)
        self._require_driver()
        header = TPciCfg()
        if not self.PciDeviceInfo(bus, device, function, header):
            self._check(f"reading the header of {bus:02x}:{device:02x}.{function}")
            return None
        return None if header.VendorID == 0xFFFF else header

    def _register(self, bus: int, device: int, function: int, register: int, width: int) -> None:
        self._function(bus, device, function)
        _in_range("register", register, 0, 0x1000 - _width(width))
        if register % width:
            raise ValueError(f"register {register:#x} is not aligned to its width of {width} bytes")
        self._require_driver()

    def pci_read(self, bus: int, device: int, function: int, register: int, width: int = 4) -> int:
        """A configuration register of width bytes (1, 2 or 4), aligned to its width."""
        self._register(bus, device, function, register, width)
        value = getattr(self, _PCI_METHODS[width][0])(bus, device, function, register)
        self._check(f"reading register {register:#x} of {bus:02x}:{device:02x}.{function}")
        return value

    def pci_write(self, bus: int, device: int, function: int, register: int, value: int, width: int = 4) -> None:
        """Writes a configuration register of width bytes (1, 2 or 4)."""
        self._register(bus, device, function, register, width)
        value = _in_range("value", value, 0, (1 << 8 * width) - 1)
        getattr(self, _PCI_METHODS[width][1])(bus, device, function, register, value)
        self._check(f"writing register {register:#x} of {bus:02x}:{device:02x}.{function}")

    # --- Interrupts.

    def interrupts(self, *lines: int, timeout: float | None = None, capacity: int = 4096) -> InterruptEvents:
        """The interrupts of lines as events: unmasks them, and masks them again at close().
        Iterating waits up to timeout seconds (None: without limit) for each event."""
        self._require_driver()
        return InterruptEvents(self, lines, timeout=timeout, capacity=capacity)

    # --- The parallel port: pins, lines, control.

    @property
    def pins(self) -> _Pins:
        """The 17 pins of the selected port by number: pc.pins[11] is busy's level,
        pc.pins[2] = True drives data bit 0 high."""
        return _Pins(self)

    @property
    def data(self) -> int:
        """The byte on the data lines (pins 2..9)."""
        return self.read_port(self.LPTBase())

    @data.setter
    def data(self, value: int) -> None:
        self.write_port(self.LPTBase(), value)

    def _status(self, method: str) -> bool:
        self._require_driver()
        return getattr(self, method)()

    busy = property(lambda self: self._status("fGetLPTBusy"), doc="The printer is busy.")
    acknowledge = property(lambda self: self._status("fGetLPTAckwl"), doc="Acknowledge is active.")
    paper_end = property(lambda self: self._status("fGetLPTPaperEnd"), doc="Paper end.")
    selected = property(lambda self: not self._status("fGetLPTSlct"), doc="Select is high: the printer is on line.")
    error = property(lambda self: self._status("fGetLPTError"), doc="Error is active.")

    @property
    def auto_feed(self) -> bool:
        """Auto feed asserted (its line low)."""
        return not self.pins[14]

    @auto_feed.setter
    def auto_feed(self, value: bool) -> None:
        self._require_driver()
        self.LPTAutofd(bool(value))

    def strobe(self) -> None:
        """A strobe pulse on pin 1."""
        self._require_driver()
        self.LPTStrobe()

    def send(self, byte: int) -> None:
        """A byte on the data lines, then a strobe pulse."""
        self.data = byte
        self.LPTStrobe()

    def init(self) -> None:
        """An init pulse on pin 16."""
        self._require_driver()
        self.LPTInit()

    def select_in(self) -> None:
        """Init low, then select in (pin 17) released."""
        self._require_driver()
        self.LPTSlctIn()

    @property
    def lpt_addresses(self) -> tuple[int, ...]:
        """The bases of the parallel ports discovered, LPT1 first."""
        return tuple(self.LPTAddress(slot) for slot in range(1, self.LPTCount() + 1))

    @property
    def lpt_number(self) -> int:
        """The selected port, from 1; setting one not discovered raises ValueError."""
        return self.LPTNumber()

    @lpt_number.setter
    def lpt_number(self, number: int) -> None:
        self._require_driver()
        number = operator.index(number)
        if not 1 <= number <= self.LPTCount():
            raise ValueError(f"parallel port {number} was not discovered ({self.LPTCount()} were)")
        self.fSetLPTNumber(number)

    @property
    def lpt_irq(self) -> bool:
        """The selected port's interrupt on acknowledge."""
        return self.LPTIrq()

    @lpt_irq.setter
    def lpt_irq(self, enable: bool) -> None:
        self._require_driver()
        self.fSetLPTIrq(bool(enable))

    @property
    def lpt_read_mode(self) -> bool:
        """The data lines are inputs."""
        return self.LPTReadMode()

    @lpt_read_mode.setter
    def lpt_read_mode(self, read_mode: bool) -> None:
        self._require_driver()
        self.fSetLPTReadMode(bool(read_mode))


class _Pins:
    """Pins 1..17 of the selected parallel port, by number, as electrical levels."""

    def __init__(self, component: Ferrox32) -> None:
        self._component = component

    def __len__(self) -> int:
        return LPT_PINS

    def __getitem__(self, pin: int) -> bool:
        pin = _in_range("pin", pin, 1, LPT_PINS)
        self._component._require_driver()
        return self._component.fGetPin(pin)

    def __setitem__(self, pin: int, level: bool) -> None:
        pin = _in_range("pin", pin, 1, LPT_PINS)
        self._component._require_driver()
        self._component.fSetPin(pin, bool(level))

    def __iter__(self):
        return (self[pin] for pin in range(1, LPT_PINS + 1))


class InterruptEvents(_ferrox._InterruptEvents):
    """Interrupts as events, recorded by an OnHwInterrupt handler that does only
    async-signal-safe work. Iterate for the events (each wait up to timeout seconds,
    None: without limit), or `async for` them; fileno() serves selectors and asyncio's
    add_reader. lost counts the interrupts that came while capacity events waited unread.
    close() (or the end of a with block) masks the lines and gives OnHwInterrupt back."""

    def __init__(self, component: Ferrox32, lines=(), timeout: float | None = None, capacity: int = 4096) -> None:
        lines = tuple(_in_range("line", line, 0, IRQ_LINES - 1) for line in lines)
        super().__init__(component, capacity)
        self.component = component
        self.lines = lines
        self.timeout = timeout
        self._pending: collections.deque = collections.deque()
        for line in self.lines:
            component.UnmaskInterrupt(line)

    def close(self) -> None:
        if self.closed:
            return
        if not self.component.freed:
            for line in self.lines:
                self.component.MaskInterrupt(line)
        super().close()

    def __enter__(self) -> InterruptEvents:
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    def get(self, timeout: float | None = None) -> InterruptEvent | None:
        """The next event, waiting up to timeout seconds (None: without limit); None when
        none came, or the events were closed."""
        if not self._pending:
            if self.closed:
                return None
            self._pending.extend(self.wait(timeout))
        return self._pending.popleft() if self._pending else None

    def __iter__(self):
        while (event := self.get(self.timeout)) is not None:
            yield event

    def __aiter__(self) -> InterruptEvents:
        return self

    async def __anext__(self) -> InterruptEvent:
        while not self._pending:
            if self.closed:
                raise StopAsyncIteration
            loop = asyncio.get_running_loop()
            readable = loop.create_future()
            descriptor = self.fileno()
            loop.add_reader(descriptor, lambda: readable.done() or readable.set_result(None))
            try:
                await asyncio.wait_for(readable, self.timeout)
            except asyncio.TimeoutError:
                raise StopAsyncIteration from None
            finally:
                loop.remove_reader(descriptor)
            if not self.closed:
                self._pending.extend(self.read())
        return self._pending.popleft()
