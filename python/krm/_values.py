"""The values the krm module hands out: enumerations of the protocol's codes,
the system-state flags, and the results and readings as frozen dataclasses,
which compare by value, pickle, copy and turn into a dict
(dataclasses.asdict). Their repr names every value with its unit."""
import dataclasses
import enum
from typing import Optional, Tuple


class Status(enum.IntEnum):
    """The status code of the gripper's answers (one byte on the wire)."""

    success = 0
    not_available = 1
    no_sensor = 2
    not_initialized = 3
    already_running = 4
    feature_not_supported = 5
    inconsistent_data = 6
    timeout = 7
    read_error = 8
    write_error = 9
    insufficient_resources = 10
    checksum_error = 11
    no_param_expected = 12
    not_enough_params = 13
    cmd_unknown = 14
    cmd_format_error = 15
    access_denied = 16
    already_open = 17
    cmd_failed = 18
    cmd_aborted = 19
    invalid_handle = 20
    not_found = 21
    not_opened = 22
    io_error = 23
    invalid_parameter = 24
    index_out_of_bounds = 25
    cmd_pending = 26
    overrun = 27
    range_error = 28
    axis_blocked = 29
    already_closed = 30
    file_exists = 31


class GraspingState(enum.IntEnum):
    """What the gripper reports about grasping."""

    idle = 0
    grasping = 1
    no_part = 2
    part_lost = 3
    holding = 4
    releasing = 5


class MotionKind(enum.IntEnum):
    """The kind of a motion."""

    home = 0
    move = 1
    grasp = 2
    release = 3
    raw = 4


class ReportKind(enum.IntEnum):
    """The value a report brought."""

    flags = 0
    grasping_state = 1
    position = 2
    speed = 3
    force = 4


class Flag(enum.IntFlag):
    """Bits of the system-state word: ``krm.Flag.referenced in state.flags``.
    Bits without a name are kept."""

    referenced = 0x1
    moving = 0x2
    blocked_minus = 0x4
    blocked_plus = 0x8
    soft_limit_minus = 0x10
    soft_limit_plus = 0x20
    axis_stopped = 0x40
    target_pos_reached = 0x80
    overdrive_mode = 0x100
    fast_stop = 0x1000
    temperature_warning = 0x2000
    temperature_fault = 0x4000
    power_fault = 0x8000
    current_fault = 0x10000
    finger_fault = 0x20000
    command_failure = 0x40000
    script_running = 0x80000
    script_failure = 0x100000


class ScanProblemKind(enum.Enum):
    """Why krm.scan() could not try a port, or what its peer answered."""

    in_use = "in_use"
    no_permission = "no_permission"
    unreachable = "unreachable"
    refused = "refused"


class LinkState(enum.Enum):
    """The state of a session's link (krm.Gripper.link_state)."""

    up = "up"
    down = "down"  # lost; with reconnect=True the session connects again
    closed = "closed"


# The unit of every field that has one, by the field's name.
_UNITS = {
    "position": "mm", "stroke": "mm",
    "speed": "mm/s", "min_speed": "mm/s", "max_speed": "mm/s",
    "min_acceleration": "mm/s²", "max_acceleration": "mm/s²",
    "force": "N", "min_force": "N", "max_force": "N", "extra": "N",
    "duration": "s", "time": "s", "flags_time": "s", "grasping_state_time": "s", "position_time": "s",
    "speed_time": "s", "force_time": "s",
}


class _Value:
    """The repr of the values: each field by name, with its unit."""

    def __repr__(self) -> str:
        parts = []
        for field in dataclasses.fields(self):  # type: ignore[arg-type]
            value = getattr(self, field.name)
            unit = _UNITS.get(field.name)
            text = repr(value)
            parts.append(f"{field.name}={text} {unit}" if unit and value is not None else f"{field.name}={text}")
        return f"{type(self).__name__}({', '.join(parts)})"


@dataclasses.dataclass(frozen=True, repr=False)
class Info(_Value):
    """System information (GET_SYSINFO)."""

    gripper_type: int
    hardware_revision: int
    firmware_revision: int
    serial_number: int


@dataclasses.dataclass(frozen=True, repr=False)
class Limits(_Value):
    """System limits (GET_SYSTEM_LIMITS). Positions and widths run from 0 to
    the stroke; ``extra`` is the answer's eighth value, passed on as read."""

    stroke: float
    min_speed: float
    max_speed: float
    min_acceleration: float
    max_acceleration: float
    min_force: float
    max_force: float
    extra: float


@dataclasses.dataclass(frozen=True, repr=False)
class Stats(_Value):
    """Grasping statistics (GET_GRASPING_STATS)."""

    grasps: int
    not_found: int
    lost: int


@dataclasses.dataclass(frozen=True, repr=False)
class State(_Value):
    """The gripper's state: system-state flags, grasping state, finger
    position, speed and grasping force, each with its receive time (seconds
    since the epoch, as time.time(); None when not received yet)."""

    flags: Flag
    grasping_state: GraspingState
    position: float
    speed: float
    force: float
    flags_time: Optional[float]
    grasping_state_time: Optional[float]
    position_time: Optional[float]
    speed_time: Optional[float]
    force_time: Optional[float]

    def has(self, flag: int) -> bool:
        """True when ``flag`` (a krm.Flag) is set."""
        return (self.flags & flag) != 0


@dataclasses.dataclass(frozen=True, repr=False)
class Report(_Value):
    """One report the gripper sent by itself: ``kind`` names the value it
    brought, the other values are the latest received before it; ``time`` is
    its receive time (seconds since the epoch)."""

    kind: ReportKind
    time: float
    flags: Flag
    grasping_state: GraspingState
    position: float
    speed: float
    force: float


@dataclasses.dataclass(frozen=True, repr=False)
class MotionResult(_Value):
    """How a motion ended: ``status`` (success, or for example cmd_aborted
    when stopped or replaced, axis_blocked, cmd_failed for a grasp that found
    no part), ``duration`` from sending the command to its final answer,
    ``position`` the finger position then (the width for grasp and release)
    and ``data`` the final answer's result bytes."""

    kind: MotionKind
    status: Status
    duration: float
    position: float
    data: bytes = b""

    def ok(self) -> bool:
        """True when the status is success."""
        return self.status == Status.success


@dataclasses.dataclass(frozen=True, repr=False)
class FoundGripper(_Value):
    """A gripper krm.scan() found: ``connection`` opens it."""

    connection: str
    info: Info


@dataclasses.dataclass(frozen=True, repr=False)
class ScanProblem(_Value):
    """A port or connection krm.scan() could not try, or whose peer refused
    the request; ``message`` says what to do."""

    connection: str
    kind: ScanProblemKind
    message: str


@dataclasses.dataclass(frozen=True, repr=False)
class ScanResult(_Value):
    """What krm.scan() found, in the order the ports were tried, and the
    problems it met."""

    found: Tuple[FoundGripper, ...]
    problems: Tuple[ScanProblem, ...]
