# SPDX-License-Identifier: MIT
# The examples of examples/python, run as a user runs them, on the virtual PC of this process.
import os
import pathlib
import re
import subprocess
import sys

import pytest

from ferrox.vpc import own_machine_environment

EXAMPLES = pathlib.Path(os.environ["FERROX_SOURCE_DIR"]) / "examples" / "python"


def run(name, *arguments):
    done = subprocess.run([sys.executable, str(EXAMPLES / name), *arguments], capture_output=True, text=True,
                          timeout=60, env=own_machine_environment())
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_the_trigger_sends_its_byte_on_schedule(vpc):
    # The example runs in a process of its own, whose printer is its own: the lines it prints say it.
    lines = run("trigger.py", "--byte", "0x5a", "--count", "3", "--interval", "0.05").splitlines()
    assert len(lines) == 3
    times = [float(re.search(r"at ([0-9.]+) s", line)[1]) for line in lines]
    assert all(line.startswith(f"trigger {n}: 0x5a") for n, line in enumerate(lines, 1))
    assert times[1] >= 0.05 and times[2] >= 0.1


def test_the_pci_walk_lists_the_functions_as_lspci_does(vpc):
    listing = run("pci_walk.py", "-v")
    assert listing.startswith("00:00.0 0600: 8086:1237 (rev 02)\n00:01.0 0601: 8086:7000 (rev 00)\n")
    assert "00:03.0 0200: 8086:100e (rev 03)\n\tBAR0 febc0000\n" in listing


def test_the_counter_counts_the_timer_with_asyncio(vpc):
    output = run("irq_counter.py", "0", "1")
    counted = int(re.search(r"IRQ 0: (\d+) interrupts in 1 s \(the component handled (\d+)\)", output)[1])
    assert 15 <= counted <= 20, output


@pytest.mark.skipif(os.path.exists("/dev/ferrox"), reason="this machine has the driver")
def test_an_example_without_a_driver_says_why(vpc):
    environment = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
    done = subprocess.run([sys.executable, str(EXAMPLES / "pci_walk.py")], capture_output=True, text=True,
                          env=environment, timeout=60)
    assert done.returncode == 1
    assert done.stderr.startswith("pci_walk: [Errno 2] No such file or directory: the ferrox driver is not loaded")
