"""Takes control, sends the arm to its home position and waits until it is there
(Ctrl-C stops the arm and ends the program).

Against the simulated arm: TARSEL_SIM=1 TARSEL_SIM_TIME_SCALE=10 python3 move_home.py
"""

import sys

import tarsel

try:
    with tarsel.Arm() as arm:
        arm.start_control_api()
        print("moving home...")
        arm.move_home(timeout=60)
        queued = arm.get_global_trajectory_info().point_count
        a = arm.get_angular_position().actuators
        print(f"home reached, {queued} points queued, joints "
              + " ".join(f"{getattr(a, f'actuator{i}'):.1f}" for i in range(1, 7)))
        arm.stop_control_api()
except tarsel.Error as e:
    sys.exit(f"{e.where} failed: {e.code} ({e})")
