#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""pci_walk: every PCI function, bus by bus, with its class, ids and revision, as
lspci -n prints them; -v adds the base address registers.

Run:  ./pci_walk.py [-v]
      LD_PRELOAD=libferrox-vpc.so.0 ./pci_walk.py      the virtual PC's chipset
"""

import argparse
import sys

import ferrox

MULTI_FUNCTION = 0x80  # header type bit: the device has functions beyond 0


def functions(pc):
    """(bus, device, function, header) of every function that answers."""
    for bus in range(256):
        for device in range(32):
            first = pc.pci_header(bus, device, 0)
            if first is None:
                continue
            yield bus, device, 0, first
            if first.HeaderType & MULTI_FUNCTION:
                for function in range(1, 8):
                    header = pc.pci_header(bus, device, function)
                    if header is not None:
                        yield bus, device, function, header


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-v", "--verbose", action="store_true", help="the base address registers too")
    arguments = parser.parse_args()
    try:
        with ferrox.Ferrox32() as pc:
            for bus, device, function, header in functions(pc):
                print(f"{bus:02x}:{device:02x}.{function} {header.ClassCode:02x}{header.SubClass:02x}: "
                      f"{header.VendorID:04x}:{header.DeviceID:04x} (rev {header.RevisionID:02x})")
                if arguments.verbose:
                    for number, bar in enumerate(header.BaseAddress):
                        if bar:
                            print(f"\tBAR{number} {bar:08x}")
    except OSError as error:
        print(f"pci_walk: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
