# SPDX-License-Identifier: MIT
"""The virtual PC from Python, in a process that has it in front of the C library
(LD_PRELOAD=libferrox-vpc.so.0, or pytest --ferrox-vpc, whose fixture vpc hands each
test this machine, reset):

    from ferrox import vpc

    vpc.machine.reset()                        # the machine the process started on
    vpc.machine.reset(toml='privilege = { iopl = "EPERM", ioperm = "EPERM" }')
    vpc.machine.log.record(4096)               # the log is off until asked for
    vpc.machine.faults.refuse_open(errno.ENOENT)
    vpc.machine.raise_irq(7)
    vpc.machine.printer_output(0x378)          # what the printer on LPT1 received
    vpc.machine.log.request_numbers()          # the driver requests, in order

Everything but in_front() raises RuntimeError where the virtual PC is not in front.
"""

from __future__ import annotations

import os

from ._ferrox import vpc as _vpc

LogEntry = _vpc.LogEntry
in_front = _vpc.in_front
library = _vpc.library

__all__ = ["Faults", "Log", "LogEntry", "Machine", "in_front", "library", "machine", "own_machine_environment"]

# Where the virtual PC names the process that holds the machine (ferrox/vpc/control.h).
MACHINE_PROCESS_VARIABLE = "FERROX_VPC_MACHINE_PROCESS"


def own_machine_environment(environment: dict[str, str] | None = None) -> dict[str, str]:
    """The environment (os.environ's by default) for a program this process starts that is to run
    on a virtual PC of its own. A program started on this process's machine finds it held here, and
    its opens of /dev/ferrox and its requests are refused rather than served by a second machine."""
    source = os.environ if environment is None else environment
    return {name: value for name, value in source.items() if name != MACHINE_PROCESS_VARIABLE}


class Log:
    """What crossed the boundary: opens, closes and requests of the device node,
    privilege calls and trapped port instructions, up to a capacity."""

    def record(self, capacity: int = 4096) -> None:
        """Starts afresh, keeping the newest capacity entries (0 turns the log off)."""
        _vpc.log_record(capacity)

    def entries(self) -> list[LogEntry]:
        """The entries kept, oldest first."""
        return _vpc.log_entries()

    def requests(self) -> list[LogEntry]:
        """The driver requests kept, in order."""
        return [entry for entry in _vpc.log_entries() if entry.event == "request"]

    def request_numbers(self) -> list[int]:
        return [entry.number for entry in self.requests()]

    @property
    def dropped(self) -> int:
        """Entries dropped to keep within the capacity."""
        return _vpc.log_dropped()


class Faults:
    """Faults injected until the next reset."""

    def refuse_open(self, error: int) -> None:
        """Opens of /dev/ferrox fail with this errno (0: they open again)."""
        _vpc.refuse_open(error)

    def fail_request(self, number: int, error: int, once: bool = False) -> None:
        """Driver requests of this number fail with this errno, once or always."""
        _vpc.fail_request(number, error, once)

    def refuse_map(self, once: bool = False) -> None:
        """Map requests are answered with linear address 0, once or always."""
        _vpc.refuse_map(once)


class Machine:
    """The virtual PC of this process."""

    def __init__(self) -> None:
        self.log = Log()
        self.faults = Faults()

    def start(self) -> None:
        """Starts the machine the environment describes; RuntimeError with the reason."""
        _vpc.start()

    def reset(self, machine: str | os.PathLike | None = None, *, toml: str | None = None) -> None:
        """Rebuilds the machine: from a machine file, from a machine file's text (toml), or
        the one the process started on. Empties the log, clears every fault.
        RuntimeError naming the fault of a machine file (the machine is the default one then)."""
        if machine is not None:
            with open(machine, encoding="utf-8") as file:
                _vpc.reset(file.read(), os.fspath(machine))
        else:
            _vpc.reset(toml)

    def printer_output(self, base: int = 0x378) -> bytes:
        """What the printer on the parallel port at base received (b'' without a printer)."""
        return _vpc.printer_output(base)

    def raise_irq(self, line: int) -> None:
        """One interrupt on an IRQ line."""
        _vpc.raise_irq(line)


machine = Machine()
