"""The stub's record classes, which make_stub.py writes from the built module."""

import ast
import pathlib
import subprocess
import sys

import pytest

import tarsel

STUB = pathlib.Path(tarsel.__file__).with_name("__init__.pyi")
MAKE_STUB = pathlib.Path(__file__).resolve().parent.parent / "make_stub.py"


def stub_classes():
    tree = ast.parse(STUB.read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}


def annotations(node):
    return {n.target.id: ast.unparse(n.annotation)
            for n in node.body if isinstance(n, ast.AnnAssign)}


@pytest.mark.parametrize("record, attribute, annotation", [
    ("AngularInfo", "actuator1", "float"),
    ("UserPosition", "type", "int"),
    ("ArmInfo", "simulated", "bool"),
    ("ArmInfo", "path", "str"),
    ("ClientConfigurations", "text1", "bytes"),             # a fixed text
    ("ClientConfigurations", "reserved", "bytes"),          # raw bytes
    ("ControlMappingEntry", "byte_pairs", "list[bytes]"),
    ("TrajectoryPoint", "position", "UserPosition"),
    ("Zone", "points", "list[CartesianInfo]"),
    ("JoystickCommand", "buttons", "list[int]"),
    ("SystemError", "flags", "list[bool]"),
    ("SpasmFilter", "values", "list[float]"),               # empty in a new record
])
def test_each_kind_of_field_has_its_annotation(record, attribute, annotation):
    assert annotations(stub_classes()[record])[attribute] == annotation


def test_records_keep_the_module_order_docstrings_and_bases():
    classes = stub_classes()
    records = [name for name, node in classes.items() if not name.startswith("_") and
               any(isinstance(b, ast.Name) and b.id in ("_Record", "_Floats") for b in node.bases)]
    module_records = [name for name, cls in vars(tarsel._tarsel).items()
                      if isinstance(cls, type) and hasattr(cls, "from_dict")]
    assert records == module_records
    for name in records:
        assert ast.get_docstring(classes[name], clean=False).split() == \
            getattr(tarsel, name).__doc__.split(), name
    sequences = {name for name in records if classes[name].bases[0].id == "_Floats"}
    assert sequences == {"AngularInfo", "CartesianInfo", "FingersPosition"}


@pytest.mark.parametrize("template", ["class Arm: ...\n", "# @RECORDS@\n# @RECORDS@\n"])
def test_a_template_without_exactly_one_place_for_the_records_is_refused(tmp_path, template):
    (tmp_path / "in.pyi").write_text(template)
    run = subprocess.run([sys.executable, str(MAKE_STUB), str(tmp_path / "in.pyi"),
                          str(tmp_path / "out.pyi")], capture_output=True, text=True)
    assert run.returncode != 0 and "exactly once" in run.stderr
    assert not (tmp_path / "out.pyi").exists()
