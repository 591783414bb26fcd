# SPDX-License-Identifier: MIT
# The README's Python section reproduces: each program prints the text that follows it, the
# pytest example passes as shown, and the virtual environment imports the build's package.
import os
import pathlib
import re
import subprocess
import sys

import pytest

from ferrox.vpc import own_machine_environment

README = pathlib.Path(os.environ["FERROX_SOURCE_DIR"]) / "README.md"
BUILD_PACKAGE = os.environ["PYTHONPATH"].split(os.pathsep)[0]


def section_blocks():
    text = README.read_text()
    section = text[text.index("\n## From Python\n"):text.index("\n## The ferrox tool\n")]
    return re.findall(r"^```(\w+)\n(.*?)^```$", section, re.MULTILINE | re.DOTALL)


def run(command, env=None, **options):
    # Each program runs as a user runs it, on a virtual PC of its own.
    done = subprocess.run(command, capture_output=True, text=True, timeout=120,
                          env=own_machine_environment(env), **options)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def programs_and_output():
    blocks = section_blocks()
    return [(code, output) for (kind, code), (next_kind, output) in zip(blocks, blocks[1:])
            if kind == "python" and next_kind == "text"]


@pytest.mark.parametrize("program, output", programs_and_output())
def test_each_program_prints_what_the_readme_shows(vpc, tmp_path, program, output):
    (tmp_path / "program.py").write_text(program)
    assert run([sys.executable, "program.py"], cwd=tmp_path) == output


def test_the_pytest_example_passes_as_shown(vpc, tmp_path):
    [example] = [code for kind, code in section_blocks() if kind == "python" and code.startswith("# test_printer.py")]
    [console] = [code for kind, code in section_blocks() if kind == "console" and "pytest" in code]
    command, *shown = console.splitlines()
    (tmp_path / "test_printer.py").write_text(example)
    arguments = command.removeprefix("$ python3 ").split()
    output = run([sys.executable, *arguments], cwd=tmp_path)
    assert output.splitlines()[-1].startswith(shown[-1])


def test_the_virtual_environment_imports_the_builds_package(tmp_path):
    [commands] = [code for kind, code in section_blocks() if kind == "sh" and "venv" in code]
    script = commands.replace("$PWD/build/x86_64/python", BUILD_PACKAGE)
    environment = {name: value for name, value in os.environ.items() if name not in ("PYTHONPATH", "LD_PRELOAD")}
    environment["PATH"] = "/usr/bin:/bin"  # Debian's python3, whatever comes first on the caller's PATH
    printed = run(["bash", "-e", "-c", script], cwd=tmp_path, env=environment)
    assert printed.strip() == str(pathlib.Path(BUILD_PACKAGE) / "ferrox" / "__init__.py")
    plugins = run([str(tmp_path / "venv/bin/python"), "-c",
                   "import importlib.metadata as m; print([e.value for e in m.entry_points(group='pytest11')])"],
                  env=environment)
    assert "ferrox.pytest_plugin" in plugins
