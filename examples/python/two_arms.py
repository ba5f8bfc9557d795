"""Two arms in one program: one thread moves the first arm while another reads both.

Against the simulator: TARSEL_SIM=2 python3 two_arms.py
"""

import sys
import threading
import time

import tarsel

found = tarsel.list_arms()
if len(found) < 2:
    sys.exit(f"two arms needed, {len(found)} found")

try:
    with tarsel.Arm(found[0]) as mover, tarsel.Arm(found[1]) as watched:
        print(f"moving {found[0].path}, watching {found[1].path}")
        done = threading.Event()

        def monitor():
            while not done.is_set():
                a = mover.get_angular_position().actuators.actuator1
                b = watched.get_angular_position().actuators.actuator1
                print(f"joint 1: {a:7.2f}  {b:7.2f}")
                time.sleep(0.1)

        reader = threading.Thread(target=monitor)
        reader.start()
        try:
            start = mover.get_angular_position()
            mover.start_control_api()
            mover.set_angular_control()
            point = tarsel.TrajectoryPoint()
            point.init_struct()
            point.position.type = tarsel.ANGULAR_POSITION
            point.position.actuators = start.actuators
            point.position.actuators.actuator1 += 30
            point.position.fingers = start.fingers
            mover.send_basic_trajectory(point)
            while mover.get_global_trajectory_info().point_count != 0:
                time.sleep(0.02)
        finally:
            done.set()
            reader.join()
        mover.stop_control_api()
        end = mover.get_angular_position().actuators.actuator1
        print(f"joint 1 of {found[0].path} moved from {start.actuators.actuator1:.2f} to {end:.2f}")
except tarsel.Error as e:
    sys.exit(f"{e.where} failed: {e.code} ({e})")
