"""Writes the package's stub: TEMPLATE with its line "# @RECORDS@" replaced by
the record classes of the built module, each with its docstring and one
annotated attribute per field, in the order the module defines them.

    PYTHONPATH=<build>/python python3 python/make_stub.py TEMPLATE OUTPUT

The build runs it once tarsel._tarsel is built (python/CMakeLists.txt), so
that a record's fields are written once, in its form, and its docstring once,
in python/src/records.cpp.
"""

import collections.abc
import pathlib
import sys
import textwrap

# The built package, from PYTHONPATH, rather than the sources of the folder
# this script is in.
if pathlib.Path(sys.path[0]).resolve() == pathlib.Path(__file__).resolve().parent:
    del sys.path[0]
from tarsel import _tarsel  # noqa: E402

MARKER = "# @RECORDS@\n"
# Methods every record has, which the stub's _Record and _Floats declare.
SHARED = {"to_dict", "from_dict", "index", "count"}
# Methods of some records, as the stub writes them.
METHODS = {"init_struct": "    def init_struct(self) -> None: ..."}


def is_record(cls):
    return isinstance(cls, type) and hasattr(cls, "to_dict") and hasattr(cls, "from_dict")


def docstring(text):
    """text between triple quotes, on one line of at most 95 characters when it
    fits, else wrapped at 93 with the closing quotes on the last word."""
    line = f'    """{text}"""'
    if len(line) <= 95:
        return line
    return textwrap.fill(f'{text}"""', width=93, initial_indent='    """',
                         subsequent_indent="    ", break_long_words=False,
                         break_on_hyphens=False)


def annotation(value, prop):
    """The type of an attribute from its value in a record with every field
    zero; a list that is empty there from the type its property's docstring
    starts with ("list[float]: ...")."""
    if isinstance(value, list):
        if not value:
            return prop.__doc__.split(":", 1)[0].split(" (", 1)[0]
        return f"list[{annotation(value[0], prop)}]"
    if is_record(type(value)):
        return type(value).__name__
    for kind in (bool, int, float, str, bytes):  # bool before int, which it is too
        if isinstance(value, kind):
            return kind.__name__
    raise SystemExit(f"make_stub.py: no annotation for {type(value).__name__}")


def record_class(name, cls):
    base = "_Floats" if issubclass(cls, collections.abc.Sequence) else "_Record"
    lines = [f"class {name}({base}):", docstring(cls.__doc__)]
    blank = cls()
    methods = []
    for attr, member in vars(cls).items():
        if attr.startswith("_") or attr in SHARED:
            continue
        if isinstance(member, property):
            lines.append(f"    {attr}: {annotation(getattr(blank, attr), member)}")
        elif attr in METHODS:
            methods.append(METHODS[attr])
        else:
            raise SystemExit(f"make_stub.py: {name}.{attr} has no stub (see METHODS)")
    return "\n".join(lines + methods) + "\n"


def main(template_path, output_path):
    with open(template_path, encoding="utf-8") as f:
        template = f.read()
    if template.count(MARKER) != 1:
        raise SystemExit(f"{template_path}: needs the line {MARKER.strip()!r} exactly once")
    classes = [record_class(name, cls) for name, cls in vars(_tarsel).items() if is_record(cls)]
    with open(output_path, "w", encoding="utf-8") as f:
        f.write(template.replace(MARKER, "\n".join(classes)))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit("usage: make_stub.py TEMPLATE OUTPUT")
    main(sys.argv[1], sys.argv[2])
