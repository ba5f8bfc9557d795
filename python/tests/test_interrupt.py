"""Ctrl-C during a long operation stops it, stops the arm, and raises KeyboardInterrupt."""

import os
import signal
import subprocess
import sys
import time

import pytest

# The child starts a long operation on a slow simulated arm, and reports what
# it finds once the interrupt arrives: the queue length, whether the arm is
# still, and how long the operation ran.
CHILD = r"""
import sys, tempfile, time, tarsel

operation = sys.argv[1]
arm = tarsel.Arm(simulated=True, time_scale=0.05, finger_points=100000)
if operation == "program_flash":
    image = tempfile.NamedTemporaryFile(suffix=".bin")
    image.write(bytes(2048 * 400))
    image.flush()
else:  # a motion the arm is busy with, far from home
    point = tarsel.TrajectoryPoint()
    point.init_struct()
    point.position.type = 2
    point.position.actuators = tarsel.AngularInfo(actuator1=90, actuator2=200, actuator3=60,
                                                  actuator4=100, actuator5=80, actuator6=30)
    arm.send_basic_trajectory(point)
print("started", flush=True)
try:
    if operation == "program_flash":
        arm.program_flash(image.name)
    else:
        getattr(arm, operation)()
except KeyboardInterrupt:
    before = arm.get_angular_position().actuators
    time.sleep(0.1)
    still = arm.get_angular_position().actuators == before
    print("interrupted", arm.get_global_trajectory_info().point_count, still, flush=True)
    raise
print("finished", flush=True)
"""


@pytest.mark.parametrize("operation", ["move_home", "init_fingers", "program_flash"])
def test_ctrl_c_stops_a_long_operation(operation):
    env = {k: v for k, v in os.environ.items() if k != "TARSEL_SIM"}
    child = subprocess.Popen([sys.executable, "-c", CHILD, operation], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "started\n"
        time.sleep(0.5)  # well inside the operation
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        out, err = child.communicate(timeout=10)
        took = time.monotonic() - sent
    finally:
        child.kill()
    assert out.split() == ["interrupted", "0", "True"], err
    assert child.returncode == -signal.SIGINT
    assert err.rstrip().endswith("KeyboardInterrupt")
    assert took < 2.0
