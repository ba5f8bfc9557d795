"""The Tarsel arm from Python: records, tarsel.Arm, list_arms(), the result codes and the
named point types, control types and hand types."""

from os import PathLike
from typing import Any, Callable, Iterator, Sequence, SupportsIndex, TypeVar, overload

__version__: str

_R = TypeVar("_R", bound="_Record")

# --- Result codes ----------------------------------------------------------------------
OK: int
USB_INIT: int
NO_INIT_COMM: int
NO_GET_DEVICE_COUNT: int
NO_SEND_PACKET: int
NO_CLOSE_COMM: int
NO_ARM: int
CLAIM_FAILED: int
NO_RECENT_PACKETS: int
NOT_INITIALIZED: int
LOAD_COMM_LAYER: int
FIRST_PACKET: int
ANSWER_ERROR_BIT: int
LATER_PACKET: int
PAYLOAD_TOO_LARGE: int
BAD_ANSWER_SIZE: int
NO_ANSWER: int
CANCELLED: int
TIME_LIMIT: int
ARGUMENT: int
FILE_OPEN: int
NO_MEMORY: int
FILE_READ: int
IMAGE_TOO_LARGE: int
FILE_WRITE: int

# --- Point types (UserPosition.type) ------------------------------------------------------
CARTESIAN_POSITION: int  # 1: coordinates, a pose in metres and radians
ANGULAR_POSITION: int  # 2: actuators, joint angles in degrees
CARTESIAN_VELOCITY: int  # 7: coordinates in metres and radians per second
ANGULAR_VELOCITY: int  # 8: actuators in degrees per second; fingers as velocities

# --- Control types (Arm.get_control_type()) ---------------------------------------------
CARTESIAN_CONTROL: int  # 0
ANGULAR_CONTROL: int  # 1

# --- Hand types (QuickStatus.hand_type) -------------------------------------------------
HAND_THREE_FINGERS: int  # 0
HAND_TWO_FINGERS: int  # 2 as the simulated arm reports it; any value but 0 means two

class Error(Exception):
    """A result code other than 1; str(err) is the message, else the code's message."""
    code: int
    where: str
    message: str | None
    def __init__(self, code: int, where: str = "", message: str | None = None) -> None: ...

def result_message(code: int) -> str:
    """A short English description of a result code."""

def list_arms() -> list[ArmInfo]:
    """The arms the library can reach (with TARSEL_SIM=N, N simulated arms)."""

# --- Records ---------------------------------------------------------------------------
class _Record:
    """What every record class has (not a class of the module)."""
    def __init__(self, **fields: Any) -> None:
        """Every field zero; keyword arguments (attribute names) set fields."""
    def to_dict(self) -> dict[str, Any]:
        """The record keyed by its C++ field names, in the tarsel tool's JSON value forms."""
    @classmethod
    def from_dict(cls: type[_R], document: dict[str, Any]) -> _R:
        """The record a dict of to_dict()'s form describes (ValueError naming the place)."""
    def __eq__(self, other: object) -> bool: ...
    def __copy__(self: _R) -> _R: ...
    def __deepcopy__(self: _R, memo: Any) -> _R: ...

class _Floats(_Record, Sequence[float]):
    """What AngularInfo, CartesianInfo and FingersPosition have besides (not a class of the
    module): a sequence of their values in field order, which also sets them."""
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, index: SupportsIndex) -> float: ...
    @overload
    def __getitem__(self, index: slice) -> list[float]: ...
    @overload
    def __setitem__(self, index: SupportsIndex, value: float) -> None: ...
    @overload
    def __setitem__(self, index: slice, value: Sequence[float]) -> None: ...
    def __iter__(self) -> Iterator[float]: ...
    def index(self, value: Any, start: int = 0, stop: int = ...) -> int: ...
    def count(self, value: Any) -> int: ...

# The record classes are the built module's (python/make_stub.py puts them in
# place of the line "# @RECORDS@"): each with its docstring and its fields as
# typed attributes, in the order the module defines them.
# @RECORDS@

# --- The arm -----------------------------------------------------------------------------
# The build puts the methods of the table api/arm/exports.txt in place of each
# "# @ARM_EXPORTS <module>@" line below (cmake/TarselArmExports.cmake); the
# package holds the stub it makes.
class Arm:
    """One open connection to one arm; a context manager that closes it on exit."""
    def __init__(
        self,
        info: ArmInfo | None = None,
        *,
        simulated: bool = False,
        hand: int = 3,
        time_scale: float = 1.0,
        finger_points: int = 5,
        faults: str = "",
    ) -> None:
        """Arm(): the first arm; Arm(info): the arm info names; Arm(simulated=True, ...): a
        simulated arm of this process's own."""
    def close(self) -> None: ...
    def __enter__(self) -> Arm: ...
    def __exit__(self, *exc: object) -> None: ...
    @property
    def is_open(self) -> bool: ...
    @property
    def info(self) -> ArmInfo: ...
    def save_recent_packets(self, path: str | PathLike[str]) -> None:
        """Saves the last 4096 USB transfers of this arm's link library to path (pcapng)."""

    # Motion
    # @ARM_EXPORTS motion@
    def move_home(self, timeout: float = 60.0) -> None:
        """Sends the arm home and waits; Error(2010) after timeout seconds (the arm stops)."""
    def move_to(self, point: TrajectoryPoint | UserPosition, *, tolerance_deg: float = 0.5,
                tolerance_mm: float = 5.0, tolerance_rad: float = 0.02,
                timeout: float = 30.0) -> AngularPosition | CartesianPosition:
        """Sends a position point and waits until the arm is within tolerance of it; returns
        the position read last. Error(2010) after timeout seconds (the arm stops)."""

    # Configuration
    # @ARM_EXPORTS config@
    def set_serial_number(self, serial: bytes | str) -> None: ...
    def set_model(self, model: bytes | str, access_code: bytes | str) -> None: ...
    def set_dev_value(self, values: Sequence[float]) -> None: ...
    def get_dev_value(self) -> list[float]: ...
    def set_spasm_filter_values(self, values: Sequence[float], filter_setting: int) -> None: ...
    def get_spasm_filter_values(self) -> SpasmFilter: ...

    # Status
    # @ARM_EXPORTS status@
    def get_system_error(self, index: int) -> SystemError: ...
    def init_fingers(self, timeout: float = 30.0) -> None:
        """Initialises the fingers and waits; Error(2010) after timeout seconds."""

    # Maintenance
    # @ARM_EXPORTS maintenance@
    def set_actuator_pid(self, address: int, p: float, i: float, d: float) -> None: ...
    def set_actuator_pid_filter(
        self, address: int, filter_p: float, filter_i: float, filter_d: float
    ) -> None: ...
    def program_flash(
        self,
        path: str | PathLike[str],
        progress: Callable[[int, int], bool | None] | None = None,
    ) -> None:
        """Programs the firmware image at path; progress(pages_sent, pages_total) may return
        False to stop (Error(2009))."""

# --- Control loops -----------------------------------------------------------------------
# The bits of ControlLoop's readouts and LoopState.readouts (ints; READ_JOINTS: the state's only)
READ_VELOCITIES: int  # joint velocities (deg/s): LoopState.velocities
READ_FORCES: int  # joint torques (N m): LoopState.forces
READ_CARTESIAN: int  # the hand's pose (m, rad): LoopState.pose
READ_QUICK_STATUS: int  # the status bytes: LoopState.status
READ_JOINTS: int  # the joint angles, read every cycle: LoopState.joints

class LoopState:
    """One cycle of a ControlLoop; a read-out the cycle did not read is None."""
    @property
    def sequence(self) -> int:
        """The cycle's number, from 1; 0 before the first cycle."""
    @property
    def time(self) -> float:
        """When the cycle began, in seconds on the clock of time.monotonic()."""
    @property
    def exchange(self) -> float:
        """How long the cycle's exchanges took, in seconds."""
    @property
    def ok(self) -> bool: ...
    @property
    def readouts(self) -> int:
        """The READ_* bits of the read-outs this cycle holds."""
    @property
    def joints(self) -> AngularPosition | None: ...
    @property
    def velocities(self) -> AngularPosition | None: ...
    @property
    def forces(self) -> AngularPosition | None: ...
    @property
    def pose(self) -> CartesianPosition | None: ...
    @property
    def status(self) -> QuickStatus | None: ...

class LoopEvent:
    """Something that happened to a loop's link."""
    @property
    def kind(self) -> str:
        """One of "transient", "refused", "disconnected", "reconnected" and "watchdog"."""
    @property
    def code(self) -> int: ...
    @property
    def sequence(self) -> int: ...
    @property
    def time(self) -> float:
        """When the loop noticed it, in seconds on the clock of time.monotonic()."""
    @property
    def message(self) -> str: ...

class LoopStatistics:
    """A loop's figures since it started; times in seconds."""
    cycles: int
    missed: int
    rate: float
    jitter: float
    period_p50: float
    period_p99: float
    period_max: float
    exchange_p50: float
    exchange_p99: float
    exchange_max: float
    transient: int
    refused: int
    disconnected: int
    reconnected: int
    watchdog: int
    def to_dict(self) -> dict[str, float]: ...

class ControlLoop:
    """A thread that reads the arm's state and sends the latest set-point at a fixed rate;
    a context manager that stops it (and brings the arm to rest) on exit."""
    def __init__(
        self,
        arm: Arm,
        *,
        rate: float = 100.0,
        readouts: int = 0,
        watchdog: float | None = None,
        max_joint_speed: float = 25.0,
        max_linear_speed: float = 0.15,
        max_angular_speed: float = 0.6,
        reconnect: bool = True,
        trace_on_disconnect: str = "",
    ) -> None: ...
    def __enter__(self) -> ControlLoop: ...
    def __exit__(self, *exc: object) -> None: ...
    def stop(self) -> None:
        """Ends the loop and brings the arm to rest; calling it again does nothing."""
    @property
    def running(self) -> bool: ...
    def latest(self) -> LoopState: ...
    def wait_next(self, after: int | None = None, timeout: float = 1.0) -> LoopState:
        """The first cycle newer than after (None: the latest now); Error(2010) after timeout
        seconds, Error(2001) once the loop stops."""
    def set_joint_velocity(self, velocity: AngularInfo | Sequence[float]) -> None: ...
    def set_cartesian_velocity(self, velocity: CartesianInfo | Sequence[float]) -> None: ...
    def set_joint_position(self, angles: AngularInfo | Sequence[float]) -> None: ...
    def set_cartesian_position(self, pose: CartesianInfo | Sequence[float]) -> None: ...
    def hold(self) -> None: ...
    def events(self) -> list[LoopEvent]:
        """The events since the last call, oldest first."""
    @property
    def dropped_events(self) -> int: ...
    def statistics(self) -> LoopStatistics: ...
    def reset_statistics(self) -> None: ...
