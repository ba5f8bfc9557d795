"""Shared set-up of the package's tests.

CTest runs them with PYTHONPATH=<build>/python, TARSEL_SIM=2 (two simulated
arms through the simulator's link library), TARSEL_SIM_TIME_SCALE=50 and
TARSEL_TOOL=<build>/bin/tarsel. By hand:

    PYTHONPATH=build/python TARSEL_TOOL=build/bin/tarsel /usr/bin/python3 -m pytest python/tests
"""

import os

# Before the library first loads the simulator, which reads them then.
os.environ.setdefault("TARSEL_SIM", "2")
os.environ.setdefault("TARSEL_SIM_TIME_SCALE", "50")

import pytest  # noqa: E402

import tarsel  # noqa: E402


@pytest.fixture
def arm():
    """A fresh simulated arm of this process's own, its time 50 times faster."""
    with tarsel.Arm(simulated=True, time_scale=50) as opened:
        yield opened


def joint_point(*joints, fingers=(0.0, 0.0, 0.0)):
    """A basic trajectory point to the given six joint angles."""
    point = tarsel.TrajectoryPoint()
    point.init_struct()
    point.position.type = 2
    point.position.actuators = tarsel.AngularInfo(
        **{f"actuator{i + 1}": value for i, value in enumerate(joints)})
    point.position.fingers = tarsel.FingersPosition(
        **{f"finger{i + 1}": value for i, value in enumerate(fingers)})
    return point
