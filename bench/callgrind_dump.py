"""Reads callgrind's profile dumps: the instructions each function executed itself, and the calls
between functions with the instructions each call cost in all (the callee and everything below
it). Only the event Ir is recorded, so every cost line ends in one count."""

import os
import re
from collections import Counter
from dataclasses import dataclass, field

# A definition "(7) name" gives the compressed id 7 a name; a later "(7)" refers to it.
_COMPRESSED = re.compile(r"\((\d+)\)(?:\s(.*))?$")
_NAMED_DUMP = "desc: Trigger: Client Request: "
# Files (fl, fi, fe, cfi, cfl) and objects (ob, cob) and functions (fn, cfn) have separate ids.
_KIND = {"fl": "file", "fi": "file", "fe": "file", "cfi": "file", "cfl": "file",
         "ob": "object", "cob": "object", "fn": "function", "cfn": "function"}


@dataclass
class Dump:
    name: str  # the client request's name: the operation
    own: Counter = field(default_factory=Counter)  # (object, function) -> instructions
    # (caller object, callee function) -> [calls, instructions in all]
    calls: dict = field(default_factory=dict)


def _parse(path):
    names = {}
    dump = Dump(name="")
    obj = function = callee_obj = callee = None
    call_count = None  # set by a "calls=" line: the next cost line is that call's
    with open(path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            line = line.rstrip("\n")
            if not line:
                continue
            if line[0].isdigit() or line[0] in "+-*":
                cost = int(line.split()[-1]) if " " in line else 0
                if call_count is None:
                    dump.own[(obj, function)] += cost
                else:
                    key = (obj, callee)
                    calls, inclusive = dump.calls.get(key, (0, 0))
                    dump.calls[key] = (calls + call_count, inclusive + cost)
                    call_count = None
                continue
            if line.startswith(_NAMED_DUMP):
                dump.name = line[len(_NAMED_DUMP):]
                continue
            key, _, value = line.partition("=")
            if key in _KIND:
                match = _COMPRESSED.match(value)
                if match:
                    id_key = (_KIND[key], match.group(1))
                    if match.group(2) is not None:
                        names[id_key] = match.group(2)
                    value = names.get(id_key, value)
                if key == "ob":
                    obj = callee_obj = value
                elif key == "fn":
                    function = value
                elif key == "cob":
                    callee_obj = value
                elif key == "cfn":
                    callee = value
            elif key == "calls":
                call_count = int(value.split()[0])
    return dump


def read_dumps(directory, prefix):
    """The dumps that client requests named, in the order they were written."""
    parts = [name for name in os.listdir(directory) if name.startswith(prefix + ".")]
    parts.sort(key=lambda name: int(name.rsplit(".", 1)[1]))
    dumps = [_parse(os.path.join(directory, name)) for name in parts]
    return [dump for dump in dumps if dump.name]


def is_library(obj):
    """libferrox itself, not the virtual PC (libferrox-vpc)."""
    return obj is not None and os.path.basename(obj).startswith("libferrox.so")


def own_instructions(dump, in_object):
    return sum(cost for (obj, _), cost in dump.own.items() if in_object(obj))


def call_instructions(dump, caller_in, callee_names):
    """Calls from functions of the objects caller_in accepts to functions of those names: how
    many, and the instructions they cost in all."""
    calls = inclusive = 0
    for (obj, callee), (count, cost) in dump.calls.items():
        if caller_in(obj) and callee in callee_names:
            calls += count
            inclusive += cost
    return calls, inclusive


def copy_instructions(dump):
    """Instructions in the memory copies: the C library's, and the virtual PC's copy to and from the
    program (one repeated move, which callgrind counts once per byte)."""
    return sum(cost for (_, function), cost in dump.own.items()
               if function and re.search(r"mem(cpy|move)|^vpc_copy_bytes$", function))
