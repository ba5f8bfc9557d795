"""tarsel.ControlLoop: cycles, set-points, the watchdog, and the arm at rest whatever ends it."""

import math
import os
import signal
import subprocess
import sys
import time

import pytest

import tarsel


def test_cycles_come_in_order_on_the_monotonic_clock(arm):
    began = time.monotonic()
    with tarsel.ControlLoop(arm, rate=200, readouts=tarsel.READ_VELOCITIES) as loop:
        states = [loop.wait_next(timeout=5)]
        for _ in range(5):
            states.append(loop.wait_next(states[-1].sequence, timeout=5))
        with pytest.raises(tarsel.Error) as late:
            loop.wait_next(2**62, timeout=0.12)  # beyond one slice of the wait
        figures = loop.statistics()
    ended = time.monotonic()

    assert [b.sequence > a.sequence for a, b in zip(states, states[1:])] == [True] * 5
    assert [b.time > a.time for a, b in zip(states, states[1:])] == [True] * 5
    assert began <= states[0].time <= states[-1].time <= ended
    last = states[-1]
    assert last.ok and last.readouts == tarsel.READ_JOINTS | tarsel.READ_VELOCITIES
    assert isinstance(last.joints, tarsel.AngularPosition)
    assert isinstance(last.velocities, tarsel.AngularPosition)
    assert (last.forces, last.pose, last.status) == (None, None, None)
    assert late.value.code == tarsel.TIME_LIMIT
    assert figures.cycles >= 6 and figures.to_dict()["cycles"] == figures.cycles
    assert not loop.running
    with pytest.raises(tarsel.Error) as stopped:
        loop.wait_next()
    assert stopped.value.code == tarsel.NOT_INITIALIZED


NAN, INF = float("nan"), float("inf")


@pytest.mark.parametrize("method, value, refusal", [
    # the limits given to the loop, and non-finite numbers: the loop's refusal
    ("set_joint_velocity", [0, 0, 0, 0, 0, 6], tarsel.ARGUMENT),
    ("set_cartesian_velocity", (0.06, 0, 0, 0, 0, 0), tarsel.ARGUMENT),
    ("set_cartesian_velocity", tarsel.CartesianInfo(rotation_z=0.3), tarsel.ARGUMENT),
    ("set_joint_velocity", [NAN, 0, 0, 0, 0, 0], tarsel.ARGUMENT),
    ("set_joint_position", [0, 0, 0, 0, 0, INF], tarsel.ARGUMENT),
    ("set_cartesian_position", tarsel.CartesianInfo(x=NAN), tarsel.ARGUMENT),
    # what is not six numbers never reaches it
    ("set_joint_velocity", [1, 2, 3, 4, 5], ValueError),
    ("set_joint_position", [0] * 7, ValueError),
    ("set_joint_velocity", [1e39, 0, 0, 0, 0, 0], ValueError),
    ("set_joint_velocity", "abcdef", TypeError),
    ("set_joint_velocity", [0, "1", 0, 0, 0, 0], TypeError),
    ("set_cartesian_velocity", tarsel.AngularInfo(), TypeError),
    ("set_cartesian_position", None, TypeError),
])
def test_a_refused_set_point_raises(arm, method, value, refusal):
    with tarsel.ControlLoop(arm, max_joint_speed=5, max_linear_speed=0.05,
                            max_angular_speed=0.2) as loop:
        if isinstance(refusal, int):
            with pytest.raises(tarsel.Error) as raised:
                getattr(loop, method)(value)
            assert raised.value.code == refusal
        else:
            with pytest.raises(refusal):
                getattr(loop, method)(value)


@pytest.mark.parametrize("arguments, refusal", [
    ({"rate": 0}, tarsel.ARGUMENT),
    ({"rate": 5000}, tarsel.ARGUMENT),
    ({"watchdog": -0.1}, ValueError),
    ({"watchdog": NAN}, ValueError),
    ({"readouts": -1}, TypeError),
])
def test_options_out_of_range_are_refused(arm, arguments, refusal):
    with pytest.raises(tarsel.Error if isinstance(refusal, int) else refusal) as raised:
        tarsel.ControlLoop(arm, **arguments)
    if isinstance(refusal, int):
        assert raised.value.code == refusal


def test_a_loop_needs_an_open_arm(arm):
    with pytest.raises(TypeError):
        tarsel.ControlLoop("sim:1")
    arm.close()
    with pytest.raises(tarsel.Error) as raised:
        tarsel.ControlLoop(arm)
    assert raised.value.code == tarsel.NOT_INITIALIZED


def wait_for(loop, condition, timeout=5.0):
    """The first state after now that meets condition; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    state = loop.latest()
    while time.monotonic() < deadline:
        state = loop.wait_next(state.sequence, timeout=timeout)
        if condition(state):
            return state
    pytest.fail(f"no cycle met the condition within {timeout} s; the last: {state}")


def test_the_watchdog_sends_zero_when_the_velocity_is_not_renewed():
    with tarsel.Arm(simulated=True) as arm, \
            tarsel.ControlLoop(arm, rate=100, readouts=tarsel.READ_VELOCITIES,
                               watchdog=0.05) as loop:
        loop.set_joint_velocity([10, 0, 0, 0, 0, 0])
        wait_for(loop, lambda s: s.velocities.actuators[0] > 5)
        # Not renewed: the set-point lapses 50 ms after it was given.
        lapsed = wait_for(loop, lambda s: abs(s.velocities.actuators[0]) < 1e-3)
        kinds = [event.kind for event in loop.events()]
        after = [loop.wait_next(lapsed.sequence + k, timeout=5) for k in range(20)]

    assert kinds == ["watchdog"]
    assert max(abs(s.velocities.actuators[0]) for s in after) < 1e-3


# The child runs a loop on a slow simulated arm that moves (a velocity
# set-point the watchdog lets last a minute, or a far position queued), ends
# it as the first argument says, and once the interrupt is through reports
# the queue's length, whether the arm stands still and its largest joint speed.
CHILD = r"""
import atexit, sys, time

ending, set_point = sys.argv[1:]

def report():
    before = arm.get_angular_position().actuators
    time.sleep(0.15)
    still = arm.get_angular_position().actuators == before
    speed = max(abs(v) for v in arm.get_angular_velocity().actuators)
    print("rest", arm.get_global_trajectory_info().point_count, still, speed, flush=True)

if ending == "exit":
    atexit.register(report)  # before the package's own hook, so it runs after it

import tarsel

arm = tarsel.Arm(simulated=True)

def drive(loop):
    if set_point == "velocity":
        loop.set_joint_velocity([10, 10, 0, 0, 0, 0])
    else:
        loop.set_joint_position([90, 200, 60, 100, 80, 30])
    first = loop.wait_next(timeout=5)
    loop.wait_next(first.sequence + 5, timeout=5)
    print("started", flush=True)
    if ending == "wait":
        loop.wait_next(2**62, timeout=60)
    state = loop.latest()
    while True:
        state = loop.wait_next(state.sequence)

if ending in ("with", "wait"):
    try:
        with tarsel.ControlLoop(arm, watchdog=60) as loop:
            drive(loop)
    except KeyboardInterrupt:
        report()
        raise
elif ending == "collected":
    try:
        drive(tarsel.ControlLoop(arm, watchdog=60))
    except KeyboardInterrupt:
        pass
    report()  # the loop went with the interrupt's traceback
else:
    loop = tarsel.ControlLoop(arm, watchdog=60)
    drive(loop)
"""


@pytest.mark.parametrize("ending, set_point", [
    ("with", "velocity"),       # Ctrl-C in the with block
    ("wait", "position"),       # Ctrl-C in a long wait_next
    ("collected", "position"),  # Ctrl-C, then the loop is collected
    ("exit", "velocity"),       # Ctrl-C ends the program with the loop running
])
def test_ctrl_c_leaves_the_arm_at_rest(ending, set_point):
    env = {k: v for k, v in os.environ.items() if k != "TARSEL_SIM"}
    child = subprocess.Popen([sys.executable, "-c", CHILD, ending, set_point], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "started\n"
        time.sleep(0.3)  # moving
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=20)
    finally:
        child.kill()
    assert out.split() == ["rest", "0", "True", "0.0"], err
    if ending != "collected":
        assert err.rstrip().endswith("KeyboardInterrupt")
