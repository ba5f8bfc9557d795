"""Reads the arm's joint angles and hand pose once and prints them.

Against the simulated arm: TARSEL_SIM=1 python3 read_positions.py
"""

import sys

import tarsel

try:
    with tarsel.Arm() as arm:
        joints = arm.get_angular_position()
        pose = arm.get_cartesian_position().coordinates
except tarsel.Error as e:
    sys.exit(f"{e.where} failed: {e.code} ({e})")

a, f = joints.actuators, joints.fingers
print("joints (deg): " + " ".join(f"{getattr(a, f'actuator{i}'):.2f}" for i in range(1, 7)))
print(f"fingers: {f.finger1:.1f} {f.finger2:.1f} {f.finger3:.1f}")
print(f"hand at x={pose.x:.3f} y={pose.y:.3f} z={pose.z:.3f} m, "
      f"rotation {pose.rotation_x:.3f} {pose.rotation_y:.3f} {pose.rotation_z:.3f} rad")
