"""The shipped stub (tarsel/__init__.pyi) names what the module has, no more, no less."""

import ast
import pathlib

import tarsel

STUB = pathlib.Path(tarsel.__file__).with_name("__init__.pyi")
# The stub's stand-ins for what record classes share: every record, and the
# records that are sequences of floats.
BASES = ("_Record", "_Floats")


def stub_names():
    tree = ast.parse(STUB.read_text())
    names, members = set(), {}
    for node in tree.body:
        if isinstance(node, ast.AnnAssign):
            names.add(node.target.id)
        elif isinstance(node, ast.FunctionDef):
            names.add(node.name)
        elif isinstance(node, ast.ClassDef):
            names.add(node.name)
            members[node.name] = {
                n.target.id if isinstance(n, ast.AnnAssign) else n.name
                for n in node.body if isinstance(n, (ast.AnnAssign, ast.FunctionDef))}
            for base in node.bases:
                if isinstance(base, ast.Name) and base.id in BASES:
                    members[node.name] |= members[base.id]
    return names - set(BASES), members


def public(names):
    return {n for n in names if not n.startswith("_") or n == "__version__"}


def test_the_stub_names_every_module_name():
    names, _ = stub_names()
    assert names == public(set(tarsel.__all__) | {"SystemError", "Error", "__version__"})


def test_the_stub_names_every_attribute_and_method():
    _, members = stub_names()
    for name, stubbed in members.items():
        if name in BASES or name == "Error":
            continue
        assert public(stubbed) == public(dir(getattr(tarsel, name))), name
