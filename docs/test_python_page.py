"""The Python module's reference page, as docs/python_page.py writes it from
the stub: what Doxygen must be able to render."""

import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent


def page(tmp_path):
    out = tmp_path / "python.md"
    subprocess.run([sys.executable, str(ROOT / "docs" / "python_page.py"),
                    str(ROOT / "python" / "tarsel" / "__init__.pyi"), str(out)], check=True)
    return out.read_text(encoding="utf-8")


def test_code_spans_survive_quotes_and_properties_are_no_methods(tmp_path):
    text = page(tmp_path)
    # A default of '' inside a single-backtick span ended it early.
    assert "`` __init__(code: int, where: str = '', message: str | None = None) -> None ``" in text
    assert not re.search(r"(?<!`)`[^`]*''[^`]*`(?!`)", text)
    arm = text[text.index("## Arm\n"):]
    arm = arm[:arm.index("\n## ", 1)]
    properties = arm[arm.index("Read-only properties:"):arm.index("Methods:")]
    assert "`` is_open: bool ``" in properties and "`` info: ArmInfo ``" in properties
    assert "`` is_open()" not in arm and "`` info()" not in arm


def test_a_section_says_what_its_constants_are_and_no_class_lists_no_methods(tmp_path):
    text = page(tmp_path)
    loops = text[text.index("## Control loops\n"):]
    assert loops.split("\n")[2] == ("The bits of ControlLoop's readouts and LoopState.readouts "
                                     "(ints; READ_JOINTS: the state's only):")
    hands = text[text.index("## Hand types"):]
    assert "under the C names without" in hands.split("\n")[2]
    state = text[text.index("## LoopState\n"):]
    assert "Methods:" not in state[:state.index("\n## ", 1)]
