"""One gripper session from Python: krm.Gripper("tcp:127.0.0.1:1000").

Units: mm, mm/s, mm/s², N; timeouts and durations in seconds.
"""
import builtins
import enum
from types import TracebackType
from typing import Callable, Iterable, Iterator, Optional, Type, Union

__version__: str

class Error(Exception):
    """The base of every error of the krm module."""

class StatusError(Error):
    """The gripper answered a request with another status than success."""
    command: str
    code: Status
    name: str
    text: str
    advice: str

class ConnectionError(Error, builtins.ConnectionError):
    """The connection could not be made or was lost, the Gripper is closed, or the string is malformed."""
    cause: str

class TimeoutError(Error, builtins.TimeoutError):
    """An answer or a motion's end did not come within the timeout; a timed-out motion got STOP."""

class LimitError(Error, ValueError):
    """A value outside the gripper's limits, or the limits could not be read; nothing was sent."""

class Status(enum.IntEnum):
    """The status code of the gripper's answers."""
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

class flags:
    """Bits of the system-state word (State.flags, Report.flags)."""
    referenced: int
    moving: int
    blocked_minus: int
    blocked_plus: int
    soft_limit_minus: int
    soft_limit_plus: int
    axis_stopped: int
    target_pos_reached: int
    overdrive_mode: int
    fast_stop: int
    temperature_warning: int
    temperature_fault: int
    power_fault: int
    current_fault: int
    finger_fault: int
    command_failure: int
    script_running: int
    script_failure: int

class Info:
    """System information (GET_SYSINFO)."""
    @property
    def gripper_type(self) -> int: ...
    @property
    def hardware_revision(self) -> int: ...
    @property
    def firmware_revision(self) -> int: ...
    @property
    def serial_number(self) -> int: ...

class Limits:
    """System limits: stroke (mm), speeds (mm/s), accelerations (mm/s²), forces (N), extra."""
    @property
    def stroke(self) -> float: ...
    @property
    def min_speed(self) -> float: ...
    @property
    def max_speed(self) -> float: ...
    @property
    def min_acceleration(self) -> float: ...
    @property
    def max_acceleration(self) -> float: ...
    @property
    def min_force(self) -> float: ...
    @property
    def max_force(self) -> float: ...
    @property
    def extra(self) -> float: ...

class Stats:
    """Grasping statistics (GET_GRASPING_STATS)."""
    @property
    def grasps(self) -> int: ...
    @property
    def not_found(self) -> int: ...
    @property
    def lost(self) -> int: ...

class State:
    """Flags, grasping state, position (mm), speed (mm/s), force (N), with receive times (time.time() seconds, None when not received)."""
    @property
    def flags(self) -> int: ...
    @property
    def grasping_state(self) -> GraspingState: ...
    @property
    def position(self) -> float: ...
    @property
    def speed(self) -> float: ...
    @property
    def force(self) -> float: ...
    @property
    def flags_time(self) -> Optional[float]: ...
    @property
    def grasping_state_time(self) -> Optional[float]: ...
    @property
    def position_time(self) -> Optional[float]: ...
    @property
    def speed_time(self) -> Optional[float]: ...
    @property
    def force_time(self) -> Optional[float]: ...
    def has(self, flag: int) -> bool:
        """True when `flag` (a krm.flags bit) is set."""

class Report:
    """One report the gripper sent by itself; `kind` names the value it brought."""
    class Kind(enum.IntEnum):
        flags = 0
        grasping_state = 1
        position = 2
        speed = 3
        force = 4
    @property
    def kind(self) -> Report.Kind: ...
    @property
    def time(self) -> float: ...
    @property
    def flags(self) -> int: ...
    @property
    def grasping_state(self) -> GraspingState: ...
    @property
    def position(self) -> float: ...
    @property
    def speed(self) -> float: ...
    @property
    def force(self) -> float: ...

class MotionResult:
    """How a motion ended: status, duration (s), position (mm; the width for grasp and release), data."""
    @property
    def kind(self) -> MotionKind: ...
    @property
    def status(self) -> Status: ...
    @property
    def duration(self) -> float: ...
    @property
    def position(self) -> float: ...
    @property
    def data(self) -> bytes: ...
    def ok(self) -> bool:
        """True when the status is success."""

class Motion:
    """A motion started by Gripper.start_*; it runs on whether or not this object lives."""
    def kind(self) -> MotionKind: ...
    def done(self) -> bool:
        """True once the final answer came (or the link was lost)."""
    def wait(self, timeout: Optional[float] = None) -> MotionResult:
        """Waits for the end; on timeout sends STOP and raises krm.TimeoutError."""
    def wait_for(self, timeout: float) -> Optional[MotionResult]:
        """Waits at most `timeout` seconds; None when the motion has not ended (nothing is sent)."""
    def cancel(self, timeout: Optional[float] = None) -> None:
        """Sends STOP if the motion is still running; it then ends with Status.cmd_aborted."""

class ReportStream(Iterator[Report]):
    """The iterator Gripper.reports() returns; also a context manager."""
    def __iter__(self) -> ReportStream: ...
    def __next__(self) -> Report: ...
    def __enter__(self) -> ReportStream: ...
    def __exit__(self, *args: object) -> None: ...
    def close(self) -> None:
        """Stops taking reports; the iteration ends."""
    @property
    def dropped(self) -> int: ...

class Packet:
    """One frame on the link, as Gripper.on_packet sees it."""
    CHECKSUM: int
    STRAY_BYTES: int
    @property
    def direction(self) -> str: ...
    @property
    def command(self) -> int: ...
    @property
    def payload(self) -> bytes: ...
    @property
    def time(self) -> float: ...
    @property
    def faults(self) -> int: ...
    def ok(self) -> bool:
        """True for a frame without faults."""

class Answer:
    """The gripper's answer to Gripper.request; pending: a final answer followed a "pending" one."""
    @property
    def status(self) -> Status: ...
    @property
    def pending(self) -> bool: ...
    @property
    def data(self) -> bytes: ...
    @property
    def duration(self) -> float: ...
    def ok(self) -> bool:
        """True when the status is success."""

ReportKinds = Optional[Union[str, Iterable[Union[str, Report.Kind]]]]

class Gripper:
    """One session with one gripper; a context manager that closes it."""
    def __init__(
        self, connection: str, timeout: Optional[float] = None, *, reports: ReportKinds = "default", report_period: float = 0.05
    ) -> None:
        """Connects: "tcp:HOST:PORT", "serial:PATH[@BAUD]", "can:PLUGIN:INTERFACE[@KBITS][#ID]"."""
    @staticmethod
    def open(
        connection: str, timeout: Optional[float] = None, *, reports: ReportKinds = "default", report_period: float = 0.05
    ) -> Gripper:
        """Connects and returns a krm.Gripper."""
    def __enter__(self) -> Gripper: ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None: ...
    def close(self) -> None:
        """Sends STOP to a motion this session started that still runs, then closes the link."""
    def is_open(self) -> bool: ...
    def connection(self) -> str: ...
    def info(self, timeout: Optional[float] = None) -> Info: ...
    def limits(self, timeout: Optional[float] = None) -> Limits: ...
    def state(self, timeout: Optional[float] = None) -> State: ...
    def stats(self, reset: bool = False, timeout: Optional[float] = None) -> Stats: ...
    def home(self, timeout: Optional[float] = None) -> MotionResult: ...
    def move(self, position: float, speed: float, timeout: Optional[float] = None) -> MotionResult: ...
    def grasp(self, width: float, speed: float, timeout: Optional[float] = None) -> MotionResult: ...
    def release(self, width: float, speed: float, timeout: Optional[float] = None) -> MotionResult: ...
    def start_home(self, timeout: Optional[float] = None) -> Motion: ...
    def start_move(self, position: float, speed: float, timeout: Optional[float] = None) -> Motion: ...
    def start_grasp(self, width: float, speed: float, timeout: Optional[float] = None) -> Motion: ...
    def start_release(self, width: float, speed: float, timeout: Optional[float] = None) -> Motion: ...
    def stop(self, timeout: Optional[float] = None) -> None: ...
    def fast_stop(self, timeout: Optional[float] = None) -> None: ...
    def acknowledge(self, timeout: Optional[float] = None) -> None: ...
    def set_acceleration(self, acceleration: float, timeout: Optional[float] = None) -> None: ...
    def acceleration(self, timeout: Optional[float] = None) -> float: ...
    def set_force_limit(self, force: float, timeout: Optional[float] = None) -> None: ...
    def force_limit(self, timeout: Optional[float] = None) -> float: ...
    def raw(
        self, command: int, payload: Union[bytes, bytearray, Iterable[int]] = b"", timeout: Optional[float] = None
    ) -> bytes: ...
    def request(
        self, command: int, payload: Union[bytes, bytearray, Iterable[int]] = b"", timeout: Optional[float] = None
    ) -> Answer: ...
    def set_reports(self, kinds: ReportKinds, period: float = 0.05, timeout: Optional[float] = None) -> None: ...
    def on_packet(self, callback: Callable[[Packet], object]) -> int: ...
    def remove_packet_handler(self, id: int) -> None: ...
    def write_packet_log(self, path: str) -> None: ...
    def stray_answers(self) -> int: ...
    def on_report(self, callback: Callable[[Report], object]) -> int: ...
    def remove_report_handler(self, id: int) -> None: ...
    def reports(self, timeout: Optional[float] = None) -> ReportStream: ...
    def last_state(self) -> State: ...
    def set_motion_timeout(self, seconds: float) -> None: ...
    def motion_timeout(self) -> float: ...

def version() -> str: ...
def status_name(status: Status) -> str: ...
def status_text(status: Status) -> str: ...
def grasping_state_text(state: GraspingState) -> str: ...
def flag_texts(flags: int) -> list[str]: ...
def motion_name(kind: MotionKind) -> str: ...
