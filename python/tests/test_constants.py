"""The named point types, control types and hand types."""

import pytest

import tarsel
from conftest import joint_point

NAMED = [
    ("CARTESIAN_POSITION", 1),
    ("ANGULAR_POSITION", 2),
    ("CARTESIAN_VELOCITY", 7),
    ("ANGULAR_VELOCITY", 8),
    ("CARTESIAN_CONTROL", 0),
    ("ANGULAR_CONTROL", 1),
    ("HAND_THREE_FINGERS", 0),
    ("HAND_TWO_FINGERS", 2),
]


@pytest.mark.parametrize("name,number", NAMED, ids=[n[0] for n in NAMED])
def test_named_values_keep_their_numbers(name, number):
    value = getattr(tarsel, name)
    assert type(value) is int and value == number
    assert name in tarsel.__all__


@pytest.mark.parametrize("kind", [
    "CARTESIAN_POSITION", "ANGULAR_POSITION", "CARTESIAN_VELOCITY", "ANGULAR_VELOCITY"])
def test_points_of_every_named_type_are_taken(arm, kind):
    point = joint_point(0, 180, 140, 0, 40, 0)
    point.position.type = getattr(tarsel, kind)
    arm.send_basic_trajectory(point)
    point.position.type = 3  # a type the arm does not know, for contrast
    with pytest.raises(tarsel.Error):
        arm.send_basic_trajectory(point)


@pytest.mark.parametrize("switch,named", [
    ("set_angular_control", "ANGULAR_CONTROL"),
    ("set_cartesian_control", "CARTESIAN_CONTROL"),
])
def test_the_control_type_reads_as_its_name(arm, switch, named):
    arm.start_control_api()
    getattr(arm, switch)()
    assert arm.get_control_type() == getattr(tarsel, named)


@pytest.mark.parametrize("hand,named", [(3, "HAND_THREE_FINGERS"), (2, "HAND_TWO_FINGERS")])
def test_the_hand_type_reads_as_its_name(hand, named):
    with tarsel.Arm(simulated=True, hand=hand) as arm:
        assert arm.get_quick_status().hand_type == getattr(tarsel, named)
