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

class AngularInfo(_Floats):
    """One value per actuator of the six-axis arm, actuator 1 first: joint angles in degrees,
    joint velocities in degrees per second, torques in newton metres or currents in amperes,
    as the read-out or point says. A sequence of its six values: list(info), info[-1],
    info[0] = 10.0."""
    actuator1: float
    actuator2: float
    actuator3: float
    actuator4: float
    actuator5: float
    actuator6: float
    def init_struct(self) -> None: ...

class CartesianInfo(_Floats):
    """Three translational components (x, y, z), then three rotational ones. A pose is in
    metres and radians (the simulated arm composes the rotation as Rz(rotation_z)
    Ry(rotation_y) Rx(rotation_x)), a velocity in metres and radians per second. A sequence of
    its six values: list(info), info[-1], info[0] = 0.2."""
    x: float
    y: float
    z: float
    rotation_x: float
    rotation_y: float
    rotation_z: float
    def init_struct(self) -> None: ...

class FingersPosition(_Floats):
    """One value per finger of the hand: a position from 0 (open) to 6800 (closed), as the
    simulated arm models it, or a velocity in the same units per second. A sequence of its
    three values: list(fingers), fingers[-1], fingers[0] = 3400.0."""
    finger1: float
    finger2: float
    finger3: float
    def init_struct(self) -> None: ...

class AngularPosition(_Record):
    """Joint values and finger values: positions, commands, torques, currents or velocities."""
    actuators: AngularInfo
    fingers: FingersPosition

class CartesianPosition(_Record):
    """The hand's pose (or a Cartesian force) and the finger values."""
    coordinates: CartesianInfo
    fingers: FingersPosition

class AngularAcceleration(_Record):
    """The eighteen values of the actuator-acceleration read-out, in the order the arm sends
    them."""
    values: list[float]

class UserPosition(_Record):
    """One point as the arm stores, executes and reports it. type is CARTESIAN_POSITION (1),
    ANGULAR_POSITION (2), CARTESIAN_VELOCITY (7) or ANGULAR_VELOCITY (8): the Cartesian kinds
    use coordinates, the angular kinds actuators; fingers are positions, or velocities in a
    velocity point."""
    type: int
    parameter: float
    coordinates: CartesianInfo
    actuators: AngularInfo
    fingers_mode: int
    fingers: FingersPosition
    def init_struct(self) -> None: ...

class Limitation(_Record):
    """Nine limit values sent with a full trajectory point."""
    limit1: float
    limit2: float
    limit3: float
    limit4: float
    limit5: float
    limit6: float
    limit7: float
    limit8: float
    limit9: float
    def init_struct(self) -> None: ...

class TrajectoryPoint(_Record):
    """One trajectory point with its limits. Call init_struct() for the defaults (type
    CARTESIAN_POSITION, fingers_mode 1)."""
    position: UserPosition
    limitation_flag: int
    limits: Limitation
    def init_struct(self) -> None: ...

class JoystickCommand(_Record):
    """One joystick sample: sixteen buttons and six axes."""
    buttons: list[int]
    axis1: float
    axis2: float
    axis3: float
    axis4: float
    axis5: float
    axis6: float

class TrajectoryFIFO(_Record):
    """State of the arm's trajectory queue; point_count is 0 when the queue is empty."""
    point_count: int
    status_float: float
    status_int: int

class SingularityVector(_Record):
    """The singularity indicators, measures and vector."""
    indicator1: int
    indicator2: int
    measure1: float
    measure2: float
    vector: CartesianInfo

class ClientConfigurations(_Record):
    """The arm's block of client settings: five 20-byte texts, numeric settings and up to 20
    stored positions (stored_position_count of them travel)."""
    text1: bytes
    text2: bytes
    text3: bytes
    text4: bytes
    text5: bytes
    int_value1: int
    float_value1: float
    float_value2: float
    float_value3: float
    float_value4: float
    float_value5: float
    float_value6: float
    float_value7: float
    int_value2: int
    float_value8: float
    stored_position_count: int
    stored_positions: list[UserPosition]
    float_value9: float
    int_value3: int
    float_value10: float
    int_value4: int
    int_value5: int
    int_value6: int
    reserved: bytes

class ControlMappingEntry(_Record):
    """One entry of a control-mapping chart; byte_pairs and byte_groups are lists of bytes."""
    entry_value1: int
    entry_value2: int
    byte_pairs: list[bytes]
    byte_groups: list[bytes]

class ControlMapping(_Record):
    """One control-mapping chart."""
    mapping_value1: int
    mapping_value2: int
    mapping_value3: int
    mapping_value4: int
    mapping_value5: int
    first_entries: list[ControlMappingEntry]
    second_entries: list[ControlMappingEntry]

class ControlMappingCharts(_Record):
    """The arm's six control-mapping charts. The arm never reports charts_value1 or an
    entry's entry_value2: a read leaves them as they were."""
    charts_value1: int
    charts_value2: int
    mappings: list[ControlMapping]

class Zone(_Record):
    """One protection zone: eight points and nine parameters."""
    zone_value1: int
    zone_value2: int
    zone_value3: int
    zone_value4: int
    points: list[CartesianInfo]
    parameters: list[float]
    zone_value5: int

class ZoneList(_Record):
    """The arm's ten protection zones (all ten always travel)."""
    list_value1: int
    list_value2: int
    zones: list[Zone]

class GeneralInformations(_Record):
    """The arm's large status block: scalar values, four stored positions, and per-actuator
    and per-finger arrays."""
    double_value1: float
    double_value2: float
    uint_value1: int
    uint_value2: int
    float_value1: float
    float_value2: float
    float_value3: float
    float_value4: float
    float_value5: float
    float_value6: float
    float_value7: float
    float_value8: float
    float_value9: float
    float_value10: float
    float_value11: float
    float_value12: float
    uint_value3: int
    uint_value4: int
    ushort_value1: int
    ushort_value2: int
    ushort_value3: int
    ushort_value4: int
    ushort_value5: int
    ushort_value6: int
    ushort_value7: int
    ushort_value8: int
    ushort_value9: int
    ushort_value10: int
    ushort_value11: int
    ushort_value12: int
    uint_value5: int
    uint_value6: int
    uint_value7: int
    uint_value8: int
    uint_value9: int
    uint_value10: int
    uint_value11: int
    uint_value12: int
    uint_value13: int
    uint_value14: int
    uint_value15: int
    position1: UserPosition
    position2: UserPosition
    position3: UserPosition
    position4: UserPosition
    float_value13: float
    float_value14: float
    float_value15: float
    float_value16: float
    float_value17: float
    float_value18: float
    float_value19: float
    float_value20: float
    float_value21: float
    float_array1: list[float]
    float_array2: list[float]
    short_array: list[int]
    float_value22: float
    float_value23: float
    float_value24: float
    float_value25: float
    float_value26: float
    float_value27: float
    uint_array1: list[int]
    uint_array2: list[int]
    float_array3: list[float]
    float_array4: list[float]
    float_array5: list[float]
    int_array1: list[int]
    int_array2: list[int]
    int_value1: int
    double_value3: float
    double_value4: float

class Finger(_Record):
    """One finger's status block."""
    text: bytes
    float_value1: float
    float_value2: float
    float_value3: float
    float_value4: float
    float_value5: float
    float_value6: float
    float_value7: float
    float_value8: float
    int_value1: int
    int_value2: int
    float_value9: float
    float_value10: float
    float_value11: float
    float_value12: float
    float_value13: float
    float_value14: float
    float_value15: float
    float_value16: float
    float_value17: float
    float_value18: float
    float_value19: float
    uint_value1: int
    uint_value2: int
    short_value1: int
    short_value2: int
    short_value3: int
    short_value4: int

class Gripper(_Record):
    """The gripper's status: a text and one block per finger, finger 1 first."""
    text: bytes
    fingers: list[Finger]

class QuickStatus(_Record):
    """Fourteen status bytes: the finger flags (nonzero once a finger is initialised) and
    hand_type (HAND_THREE_FINGERS, 0, for three fingers; anything else, such as
    HAND_TWO_FINGERS, 2, for two)."""
    finger1_initialized: int
    finger2_initialized: int
    finger3_initialized: int
    status_byte3: int
    status_byte4: int
    status_byte5: int
    status_byte6: int
    status_byte7: int
    status_byte8: int
    status_byte9: int
    status_byte10: int
    hand_type: int
    status_byte12: int
    status_byte13: int

class ForcesInfo(_Record):
    """Twelve force values, copied bit for bit."""
    force1: float
    force2: float
    force3: float
    force4: float
    force5: float
    force6: float
    force7: float
    force8: float
    force9: float
    force10: float
    force11: float
    force12: float

class SensorsInfo(_Record):
    """Fourteen sensor values."""
    sensor1: float
    sensor2: float
    sensor3: float
    sensor4: float
    sensor5: float
    sensor6: float
    sensor7: float
    sensor8: float
    sensor9: float
    sensor10: float
    sensor11: float
    sensor12: float
    sensor13: float
    sensor14: float

class SystemError(_Record):
    """One entry of the arm's error log."""
    uint_value1: int
    int_value1: int
    int_value2: int
    int_value3: int
    uint_value2: int
    flags: list[bool]
    int_value4: int
    int_value5: int
    uint_array: list[int]

class PeripheralInfo(_Record):
    """One entry of the peripheral inventory."""
    uint_value1: int
    uint_value2: int
    uint_value3: int
    uint_value4: int
    uint_value5: int

class SpasmFilter(_Record):
    """The spasm filter: its four values and its setting."""
    values: list[float]
    setting: int

class ArmInfo(_Record):
    """One arm the library can reach (from list_arms()). path is its stable identity:
    "usb:<bus>-<ports>" or "sim:<n>"."""
    path: str
    vendor_id: int
    product_id: int
    bus: int
    address: int
    serial: str
    product: str
    simulated: bool

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
