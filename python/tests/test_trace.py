# SPDX-License-Identifier: MIT
# ferrox trace, record and replay on a Python program: the interpreter with the binding loaded
# is a program like any other. Recorded, it replays unchanged; changed by one byte, the replay
# stops at that byte's call.
import json
import os
import subprocess
import sys

import pytest

PROGRAM = """
import sys
import ferrox

with ferrox.Ferrox32() as pc:
    header = pc.pci_header(0, 0, 0)
    print(f"{header.VendorID:04x}:{header.DeviceID:04x}", pc.read_memory(0x408, 4).hex())
    with pc.interrupts(7, timeout=5) as events:
        pc.lpt_irq = True
        for byte in sys.argv[1].encode():
            while pc.busy:
                pass
            pc.send(byte)
            print("acknowledged", events.get(timeout=5).line)
"""


@pytest.fixture
def ferrox_tool(tmp_path):
    """Runs the ferrox tool as a user does, without the virtual PC this test runs on: the tool
    starts the virtual PC itself (--virtual)."""
    environment = {name: value for name, value in os.environ.items()
                   if name not in ("LD_PRELOAD", "FERROX_PYTEST_ON_VIRTUAL_PC")}
    program = tmp_path / "program.py"
    program.write_text(PROGRAM)

    def run(*arguments, text="Hi"):
        command = [os.environ["FERROX_TOOL"], "--virtual", *arguments, "--", sys.executable, str(program), text]
        return subprocess.run(command, env=environment, capture_output=True, text=True, timeout=120)

    return run


def test_a_python_program_is_traced_recorded_and_replayed(ferrox_tool, tmp_path):
    traced = ferrox_tool("trace")
    assert traced.returncode == 0, traced.stderr
    assert "8086:1237 78037802" in traced.stdout and traced.stdout.count("acknowledged 7") == 2
    assert "pci header bus=0x00 device=0x00 function=0x0" in traced.stderr
    assert "irq unmask line=7" in traced.stderr and "signal signal=44 line=7" in traced.stderr

    recording = str(tmp_path / "python.rec")
    recorded = ferrox_tool("record", "-o", recording)
    assert recorded.returncode == 0, recorded.stderr
    replayed = ferrox_tool("replay", recording)
    assert replayed.returncode == 0, replayed.stderr
    assert replayed.stdout == recorded.stdout

    listing = subprocess.run([os.environ["FERROX_TOOL"], "trace", "--json", "--from", recording, "-o", "/dev/stdout"],
                             capture_output=True, text=True, check=True)
    events = [json.loads(line) for line in listing.stdout.splitlines()]
    second = next(event for event in events
                  if event["event"] == "port out" and event["port"] == 0x378 and event["value"] == ord("i"))
    changed = ferrox_tool("replay", recording, text="Ho")
    assert changed.returncode == 1
    assert f"ferrox: replay: diverged at call #{second['sequence']}\n" in changed.stderr, changed.stderr
    assert "expected: port out port=0x0378 width=1 value=0x69" in changed.stderr
    assert "came:     port out port=0x0378 width=1 value=0x6f" in changed.stderr
