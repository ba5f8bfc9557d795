"""Traces a small horizontal circle with the hand: a control loop at 100 Hz
sends the hand's velocity, renewed every cycle from the circle's tangent, for
one turn; then prints the loop's rate and jitter and how far from its start
the hand ended. Ctrl-C stops the arm and ends the program.

    python3 jog_circle.py [seconds per turn, default 4]

Against the simulated arm: TARSEL_SIM=1 python3 jog_circle.py
"""

import math
import sys

import tarsel

RADIUS = 0.02  # m
RATE = 100.0   # cycles per second

turn = float(sys.argv[1]) if len(sys.argv) > 1 else 4.0
omega = 2 * math.pi / turn  # rad/s along the circle
speed = RADIUS * omega      # m/s, well below the loop's 0.15 m/s limit

try:
    with tarsel.Arm() as arm:
        arm.start_control_api()
        print("moving home...")
        arm.move_home(timeout=60)
        with tarsel.ControlLoop(arm, rate=RATE, readouts=tarsel.READ_CARTESIAN) as loop:
            state = loop.wait_next()
            start, began = state.pose.coordinates, state.time
            farthest = 0.0
            while state.time - began < turn:
                # The tangent of a circle whose centre lies RADIUS from the
                # start along +y, the hand starting along +x.
                angle = omega * (state.time - began)
                loop.set_cartesian_velocity(
                    [speed * math.cos(angle), speed * math.sin(angle), 0, 0, 0, 0])
                state = loop.wait_next(state.sequence)
                here = state.pose.coordinates
                farthest = max(farthest, math.dist((here.x, here.y), (start.x, start.y)))
            loop.hold()
            state = loop.wait_next(loop.wait_next(state.sequence).sequence)
            figures = loop.statistics()
        end = state.pose.coordinates
        arm.stop_control_api()
except tarsel.Error as e:
    sys.exit(f"{e.where} failed: {e.code} ({e})")

print(f"{figures.cycles} cycles at {figures.rate:.1f} Hz, jitter {figures.jitter * 1e3:.3f} ms, "
      f"period p99 {figures.period_p99 * 1e3:.2f} ms, {figures.missed} missed")
print(f"exchanges p50 {figures.exchange_p50 * 1e3:.3f} ms, p99 {figures.exchange_p99 * 1e3:.3f} ms")
print(f"circle {farthest * 100:.1f} cm across (aimed at {2 * RADIUS * 100:.1f}), ended "
      f"{math.dist((end.x, end.y, end.z), (start.x, start.y, start.z)) * 1000:.1f} mm "
      "from the start")
