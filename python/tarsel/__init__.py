"""The Tarsel arm from Python.

    import tarsel

    with tarsel.Arm() as arm:              # the first arm; TARSEL_SIM=1 for a simulated one
        joints = arm.get_angular_position()
        print(list(joints.actuators))      # the six joint angles in degrees
        arm.move_home()

Every method of ``Arm`` is one function of the API under its snake-case name
and raises ``tarsel.Error`` when the result code is not 1. Records are classes
with the C++ field names in snake case; ``to_dict()`` and ``from_dict()`` give
them in the JSON form of the ``tarsel`` tool.
"""

from . import _tarsel
from ._error import Error
from ._tarsel import *  # noqa: F401,F403 (the records, Arm, list_arms and the result codes)
from ._tarsel import __version__  # noqa: F401

# The record SystemError keeps its C++ name as tarsel.SystemError, but a star
# import leaves it out so that it does not hide Python's own SystemError.
__all__ = sorted(name for name in vars(_tarsel) if not name.startswith("_") and name != "SystemError")
