# SPDX-License-Identifier: MIT
# The binding's surface: every public method of TFerrox32 under its C++ name, in the class and in
# its type stub, and documented for help() and editors.
import ast
import os
import pathlib
import pydoc
import re

import ferrox

SOURCE = pathlib.Path(os.environ["FERROX_SOURCE_DIR"])


def component_methods():
    header = (SOURCE / "component" / "Ferrox32.h").read_text()
    public = header[header.index(" public:"):header.index(" private:")]
    names = set(re.findall(r"^\s+(?:[\w:<>*&]+\s+)+\*?(\w+)\(", public, re.MULTILINE))
    return names - {"TFerrox32", "operator"}


def stub_methods():
    stub = ast.parse((SOURCE / "python" / "ferrox" / "_ferrox.pyi").read_text())
    [ferrox32] = [node for node in stub.body if isinstance(node, ast.ClassDef) and node.name == "Ferrox32"]
    return {node.name for node in ferrox32.body if isinstance(node, ast.FunctionDef)}


def test_every_public_method_of_the_component_is_there_under_its_name_and_in_the_stub():
    methods = component_methods()
    assert {"OpenDriver", "fGetPortB", "ReadPortLFIFO", "PciDeviceInfo", "SetOnHwInterrupt", "LPTReadShadow"} <= methods
    assert methods - set(dir(ferrox.Ferrox32)) == set()
    assert methods - stub_methods() == set()
    assert stub_methods() - set(dir(ferrox.Ferrox32)) == set()


def test_help_shows_the_methods_with_their_arguments_and_what_they_do():
    text = pydoc.render_doc(ferrox.Ferrox32, renderer=pydoc.plaintext)
    assert "fGetPortB(self: ferrox._ferrox.Ferrox32, Port: int) -> int" in text
    assert "8-bit read of Port" in text
    assert "read_port(self: ferrox._ferrox.Ferrox32, port: int, width: int = 1) -> int" in text
    assert "raise OSError" in text
    for name in ("interrupts", "read_memory", "pci_header", "pins", "send"):
        assert getattr(ferrox.Ferrox32, name).__doc__, name
