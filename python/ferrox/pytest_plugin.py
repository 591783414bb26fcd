# SPDX-License-Identifier: MIT
"""The pytest plugin of ferrox (entry point pytest11): --ferrox-vpc (or the ini option
ferrox_vpc = true) runs pytest again with the virtual PC in front, and the fixture vpc
hands each test the machine, reset, with its log recording."""

from __future__ import annotations

import os
import sys

import pytest

# Set in the environment of the pytest started again, so that it never starts a third.
_RESTARTED = "FERROX_PYTEST_ON_VIRTUAL_PC"


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("ferrox")
    group.addoption("--ferrox-vpc", action="store_true", dest="ferrox_vpc",
                    help="run the tests on the virtual PC: pytest starts again with libferrox-vpc preloaded")
    parser.addini("ferrox_vpc", type="bool", default=False, help="run the tests on the virtual PC (as --ferrox-vpc)")


@pytest.hookimpl(tryfirst=True)
def pytest_cmdline_main(config: pytest.Config):
    if not (config.getoption("ferrox_vpc") or config.getini("ferrox_vpc")):
        return None
    from ferrox import vpc

    if vpc.in_front():
        return None
    library = vpc.library()
    if os.environ.get(_RESTARTED) or not library:
        raise pytest.UsageError("--ferrox-vpc: the virtual PC library (libferrox-vpc.so.0) is not beside libferrox; "
                                "run LD_PRELOAD=/path/to/libferrox-vpc.so.0 python3 -m pytest instead")
    environment = dict(os.environ)
    environment[_RESTARTED] = "1"
    environment["LD_PRELOAD"] = ":".join(filter(None, [library, os.environ.get("LD_PRELOAD")]))
    sys.stdout.flush()
    sys.stderr.flush()
    os.chdir(config.invocation_params.dir)
    os.execve(sys.executable, [sys.executable, "-m", "pytest", *config.invocation_params.args], environment)


@pytest.fixture
def vpc():
    """The virtual PC, reset to the machine the process started on, its log recording the
    newest 4096 entries."""
    from ferrox import vpc as control

    if not control.in_front():
        pytest.fail("the virtual PC is not in front: run pytest --ferrox-vpc, or with "
                    "LD_PRELOAD=libferrox-vpc.so.0", pytrace=False)
    control.machine.reset()
    control.machine.log.record(4096)
    yield control.machine
    control.machine.log.record(0)
