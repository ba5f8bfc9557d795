"""tarsel.Arm against simulated arms: every method, errors, threads, two arms."""

import ast
import functools
import pathlib
import re
import threading
import time

import pytest

import tarsel
from conftest import joint_point

# The table the build makes tarsel.Arm's simple methods from (api/arm/exports.txt).
TABLE = pathlib.Path(__file__).resolve().parents[2] / "api" / "arm" / "exports.txt"


def table_rows():
    """The table's rows as dicts of its columns."""
    rows = []
    for line in TABLE.read_text(encoding="utf-8").splitlines():
        if line.strip() and not line.lstrip().startswith("#"):
            cells = [cell.strip() for cell in line.split("|", 7)]
            rows.append(dict(zip(
                ("name", "python", "module", "shape", "record", "arguments", "check", "doc"),
                cells)))
    return rows


ROWS = table_rows()


def answer_type(record):
    """The Python type a read of record answers with."""
    if record.startswith("std::vector<"):
        return list
    if record in ("int", "unsigned int"):
        return int
    return getattr(tarsel, record)


# What more than its type a read's answer must show.
CHECKS = {
    "get_angular_position": lambda p: p.actuators.actuator3 != 0,
    "get_actuator_acceleration": lambda a: len(a.values) == 18,
    "get_global_trajectory_info": lambda f: f.point_count == 0,
    "get_client_configurations": lambda c: c.text1 == b"Tarsel arm",
    "get_gripper_status": lambda g: len(g.fingers) == 3,
    "get_peripheral_inventory":
        lambda p: len(p) == 15 and all(isinstance(e, tarsel.PeripheralInfo) for e in p),
    "get_position_current_actuators": lambda v: len(v) == 12,
    "get_api_version": lambda v: v == [int(n) for n in tarsel.__version__.split(".")],
    "get_code_version": lambda v: len(v) == 37 and all(0 <= n <= 255 for n in v),
}

# The arguments of the table's writes: a write added to the table needs a row here.
WRITE_ARGUMENTS = {
    "send_joystick_command": (tarsel.JoystickCommand(),),
    "send_advance_trajectory": (joint_point(0, 180, 140, 0, 40, 0),),
    "send_basic_trajectory": (joint_point(0, 180, 140, 0, 40, 0),),
    "set_cartesian_force_min_max": (tarsel.CartesianInfo(), tarsel.CartesianInfo()),
    "set_cartesian_inertia_damping": (tarsel.CartesianInfo(), tarsel.CartesianInfo()),
    "set_angular_torque_min_max": (tarsel.AngularInfo(), tarsel.AngularInfo()),
    "set_angular_inertia_damping": (tarsel.AngularInfo(), tarsel.AngularInfo()),
    "set_client_configurations": (tarsel.ClientConfigurations(),),
    "set_control_mapping": (tarsel.ControlMappingCharts(),),
    "set_protection_zone": (tarsel.ZoneList(),),
    "set_frame_type": (2,),
    "set_joint_zero": (16,),
    "set_actuator_address": (16, 16),
    "set_torque_zero": (16,),
    "set_torque_gain": (16, 5),
}


def table_call(row):
    """The row's method, its arguments and the check of its answer."""
    name = row["python"]
    if row["shape"] == "bare":
        return name, (), None
    if row["shape"] == "write":
        return name, WRITE_ARGUMENTS[name], None
    kind, more = answer_type(row["record"]), CHECKS.get(name, lambda _: True)
    return name, (), lambda answer: isinstance(answer, kind) and more(answer)


# One row per method: the table's, then those written by hand, with their
# arguments and what the answer must be (a record class, a type, or a check).
# A method bound to the wrong export shows as an answer of the wrong kind, or
# as a refusal from the arm.
CALLS = [table_call(row) for row in ROWS] + [
    ("move_home", (), None),
    ("set_serial_number", (b"TSL-PY-1",), None),
    ("set_model", ("TARSEL-P", "M7Q4ZK2"), None),
    ("set_dev_value", ([0.5] * 14,), None),
    ("get_dev_value", (), lambda v: len(v) == 14),
    ("set_spasm_filter_values", ([1, 2, 3, 4], 1), None),
    ("get_spasm_filter_values", (), lambda f: len(f.values) == 4),
    ("get_system_error", (0,), tarsel.SystemError),
    ("init_fingers", (), None),
    ("set_actuator_pid", (16, 1.0, 2.0, 3.0), None),
    ("set_actuator_pid_filter", (16, 0.1, 0.2, 0.3), None),
]


@pytest.mark.parametrize("name,args,expected", CALLS, ids=[c[0] for c in CALLS])
def test_every_method_reaches_its_export(arm, name, args, expected):
    answer = getattr(arm, name)(*args)
    if expected is None:
        assert answer is None
    elif isinstance(expected, type):
        assert isinstance(answer, expected)
    else:
        assert expected(answer), answer


def test_the_method_table_covers_the_class():
    methods = {n for n in dir(tarsel.Arm) if not n.startswith("_")}
    by_hand = {"program_flash", "move_to"}
    apart = {"close", "is_open", "info", "save_recent_packets"}  # no export of the arm's
    assert methods - apart == {c[0] for c in CALLS} | by_hand


@functools.cache
def stub_docstrings():
    """The docstrings of the Arm methods in the stub the package ships."""
    stub = pathlib.Path(tarsel.__file__).with_name("__init__.pyi")
    arm = next(node for node in ast.parse(stub.read_text()).body
               if isinstance(node, ast.ClassDef) and node.name == "Arm")
    return {node.name: " ".join((ast.get_docstring(node) or "").split())
            for node in arm.body if isinstance(node, ast.FunctionDef)}


@pytest.mark.parametrize("row", ROWS, ids=[row["python"] for row in ROWS])
def test_each_table_row_is_a_method_with_its_line(row):
    method = getattr(tarsel.Arm, row["python"])
    assert method.__doc__.startswith(row["python"] + "(")  # pybind11's signature first
    assert method.__doc__.endswith("\n" + row["doc"] + "\n")
    assert stub_docstrings()[row["python"]] == row["doc"]


@pytest.mark.parametrize("write,read,value", [
    ("set_dev_value", "get_dev_value", [float(i) / 4 for i in range(14)]),
    ("set_serial_number", None, b"x" * 20),
])
def test_arguments_reach_the_arm(arm, write, read, value):
    getattr(arm, write)(value)
    if read:
        assert getattr(arm, read)() == value


def faulty_arm(faults):
    return tarsel.Arm(simulated=True, faults=faults)


def slow_home(timeout):
    arm = tarsel.Arm(simulated=True, time_scale=0.05)  # a home move takes minutes
    arm.send_basic_trajectory(joint_point(90, 200, 60, 100, 80, 30))
    arm.move_home(timeout=timeout)


ERRORS = [
    ("error bit", lambda: faulty_arm("error:105").get_angular_position(), tarsel.ANSWER_ERROR_BIT),
    ("silence", lambda: faulty_arm("noanswer:104").get_cartesian_position(), tarsel.NO_ANSWER),
    ("text too long", lambda: faulty_arm("").set_serial_number(b"x" * 21), tarsel.ARGUMENT),
    ("short list", lambda: faulty_arm("").set_dev_value([1.0, 2.0]), tarsel.ARGUMENT),
    ("missing firmware", lambda: faulty_arm("").program_flash("/nonexistent/fw.bin"),
     tarsel.FILE_OPEN),
    ("bad simulator option", lambda: tarsel.Arm(simulated=True, hand=4), tarsel.ARGUMENT),
    ("time limit", lambda: slow_home(0.2), tarsel.TIME_LIMIT),
]


@pytest.mark.parametrize("call,code", [e[1:] for e in ERRORS], ids=[e[0] for e in ERRORS])
def test_result_codes_raise_error(call, code):
    with pytest.raises(tarsel.Error) as raised:
        call()
    assert raised.value.code == code
    assert str(raised.value) == tarsel.result_message(code)


def point_of_type(kind, first=10.0):
    point = joint_point(first, 200, 40, 240, 80, 90)
    point.position.type = kind
    return point


REFUSED = [
    ("unknown point type", lambda a: a.send_basic_trajectory(point_of_type(5)),
     "point type 5 is none the arm knows"),
    ("NaN joint",
     lambda a: a.send_basic_trajectory(point_of_type(tarsel.ANGULAR_POSITION, float("nan"))),
     "Actuators value 1 is NaN"),
    ("index past the end", lambda a: a.get_system_error(a.get_system_error_count() + 2),
     "is past the end of the error log"),
    ("move_to a velocity", lambda a: a.move_to(point_of_type(tarsel.ANGULAR_VELOCITY)),
     "is a velocity: MoveTo takes a position"),
    ("move_to a negative tolerance",
     lambda a: a.move_to(point_of_type(tarsel.ANGULAR_POSITION), tolerance_mm=-1),
     "a tolerance must be"),
]


@pytest.mark.parametrize("call,said", [r[1:] for r in REFUSED], ids=[r[0] for r in REFUSED])
def test_plainly_invalid_calls_say_why(call, said):
    arm = tarsel.Arm(simulated=True)
    with pytest.raises(tarsel.Error) as raised:
        call(arm)
    assert said in str(raised.value)
    assert arm.get_global_trajectory_info().point_count == 0


def cartesian_position_of(arm, dx):
    """A UserPosition dx metres along X from where the hand is."""
    position = tarsel.UserPosition()
    position.type = tarsel.CARTESIAN_POSITION
    position.coordinates = arm.get_cartesian_position().coordinates
    position.coordinates.x += dx
    return position


def test_move_to_takes_either_kind_of_point(arm):
    reached = arm.move_to(joint_point(30, 200, 40, 240, 80, 90))
    assert isinstance(reached, tarsel.AngularPosition)
    assert reached.actuators.actuator1 == pytest.approx(30, abs=0.5)
    target = cartesian_position_of(arm, 0.05)
    reached = arm.move_to(target, tolerance_mm=2.0, tolerance_rad=0.05)
    assert isinstance(reached, tarsel.CartesianPosition)
    assert reached.coordinates.x == pytest.approx(target.coordinates.x, abs=0.002)
    assert arm.get_global_trajectory_info().point_count == 0


def test_move_to_time_limit_says_how_far_the_arm_stayed():
    arm = tarsel.Arm(simulated=True, time_scale=0.05)  # any move takes minutes
    with pytest.raises(tarsel.Error) as raised:
        arm.move_to(cartesian_position_of(arm, 0.2), timeout=0.2)
    assert raised.value.code == tarsel.TIME_LIMIT
    stayed = re.search(r"the arm stayed (\d+\.\d) mm and 0\.\d{3} rad from the point",
                       str(raised.value))
    assert stayed and 150 <= float(stayed[1]) <= 200.1, str(raised.value)
    assert arm.get_global_trajectory_info().point_count == 0


def test_a_bad_simulator_option_is_named_as_the_keyword(capfd):
    with pytest.raises(tarsel.Error):
        tarsel.Arm(simulated=True, hand=4)
    err = capfd.readouterr().err
    assert 'hand: expected 2 or 3, got "4"' in err and "TARSEL_SIM_HAND" not in err


@pytest.mark.parametrize("name,code,message", [
    ("OK", 1, "success"),
    ("NO_ANSWER", 2008, "no answer from the arm"),
    ("CANCELLED", 2009, None),
    ("ARGUMENT", 2100, None),
    ("IMAGE_TOO_LARGE", 5004, None),
    ("FILE_WRITE", 5005, "the file could not be written"),
    ("NO_RECENT_PACKETS", 1016, None),
])
def test_result_codes_and_messages(name, code, message):
    assert getattr(tarsel, name) == code
    assert tarsel.result_message(code) != tarsel.result_message(-1)
    if message:
        assert tarsel.result_message(code) == message


@pytest.mark.parametrize("kwargs,problem", [
    ({"hand": 2}, "simulated=True"),
    ({"info": tarsel.ArmInfo(), "simulated": True}, "not both"),
    ({"simulated": True, "time_scale": -1.0}, None),
])
def test_arm_arguments_are_checked(kwargs, problem):
    with pytest.raises((ValueError, tarsel.Error), match=problem):
        tarsel.Arm(**kwargs)


def test_close_ends_the_arm():
    with tarsel.Arm(simulated=True) as arm:
        assert arm.is_open
    assert not arm.is_open
    with pytest.raises(tarsel.Error) as raised:
        arm.get_quick_status()
    assert raised.value.code == tarsel.NOT_INITIALIZED
    assert "this arm is closed" in str(raised.value)
    arm.close()  # twice is harmless


def test_recent_packets_are_saved_after_close(tmp_path):
    with tarsel.Arm(simulated=True) as arm:
        arm.get_quick_status()
    arm.save_recent_packets(tmp_path / "recent.pcapng")
    capture = (tmp_path / "recent.pcapng").read_bytes()
    assert capture[:4] == b"\x0a\x0d\x0d\x0a"  # a pcapng section
    last = int.from_bytes(capture[-4:], "little")  # the last block's length
    assert int.from_bytes(capture[-last:][:4], "little") == 6  # a packet block
    with pytest.raises(tarsel.Error) as raised:
        arm.save_recent_packets(tmp_path / "no-such-folder" / "recent.pcapng")
    assert raised.value.code == tarsel.FILE_WRITE
    assert "no-such-folder" in str(raised.value)


def test_list_arms_and_two_arms():
    found = tarsel.list_arms()
    assert [a.path for a in found] == ["sim:1", "sim:2"]
    assert all(a.simulated and a.vendor_id == 0xF055 for a in found)
    with tarsel.Arm(found[0]) as first, tarsel.Arm(found[1]) as second:
        assert (first.info.path, second.info.path) == ("sim:1", "sim:2")
        start = first.get_angular_position().actuators
        still = second.get_angular_position().actuators
        first.start_control_api()
        first.set_angular_control()
        first.send_basic_trajectory(joint_point(start.actuator1 + 20, start.actuator2,
                                                start.actuator3, start.actuator4,
                                                start.actuator5, start.actuator6))
        deadline = time.monotonic() + 20
        while first.get_global_trajectory_info().point_count and time.monotonic() < deadline:
            time.sleep(0.01)
        assert first.get_angular_position().actuators.actuator1 == pytest.approx(
            start.actuator1 + 20, abs=0.5)
        assert second.get_angular_position().actuators == still


def test_threads_read_while_a_long_call_runs():
    # A slow arm: the home move takes seconds. Two threads read it meanwhile;
    # both get on only if move_home lets go of the GIL.
    arm = tarsel.Arm(simulated=True, time_scale=10)
    arm.send_basic_trajectory(joint_point(90, 200, 60, 100, 80, 30))
    reads = [0, 0]
    homing = threading.Thread(target=arm.move_home)

    def read(slot):
        while homing.is_alive():
            arm.get_angular_position()
            reads[slot] += 1

    homing.start()
    readers = [threading.Thread(target=read, args=(slot,)) for slot in (0, 1)]
    for reader in readers:
        reader.start()
    for thread in [homing, *readers]:
        thread.join(60)
    assert min(reads) > 10, reads
    assert arm.get_global_trajectory_info().point_count == 0


@pytest.fixture
def firmware(tmp_path):
    path = tmp_path / "fw.bin"
    path.write_bytes(b"\x11" * (3 * 2048))  # four pages
    return path


def test_flash_progress_can_stop(arm, firmware):
    seen = []

    def progress(sent, total):
        seen.append((sent, total))
        return sent < 1

    with pytest.raises(tarsel.Error) as raised:
        arm.program_flash(firmware, progress=progress)
    assert raised.value.code == tarsel.CANCELLED
    assert seen == [(0, 4), (1, 4)]


def test_flash_progress_exception_comes_back(arm, firmware):
    class Stop(Exception):
        pass

    def progress(sent, total):
        raise Stop(sent)

    with pytest.raises(Stop):
        arm.program_flash(str(firmware), progress=progress)
