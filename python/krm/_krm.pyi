"""The compiled part of the krm package; use it through krm."""
import builtins
from types import TracebackType
from typing import Callable, Iterable, Iterator, Optional, Sequence, Type, Union

from ._values import (
    GraspingState,
    Info,
    Limits,
    LinkState,
    MotionKind,
    MotionResult,
    Report,
    ReportKind,
    ScanResult,
    State,
    Stats,
    Status,
)

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
    """The connection could not be made or was lost, or the Gripper is closed."""
    cause: str

class ConnectionStringError(Error, ValueError):
    """A malformed connection string; the message names the wrong part."""
    cause: str

class TimeoutError(Error, builtins.TimeoutError):
    """An answer or a motion's end did not come within the timeout; a timed-out motion got STOP."""

class LimitError(Error, ValueError):
    """A value outside the gripper's limits, or the limits could not be read; nothing was sent."""

class Motion:
    """A motion started by Gripper.start_*; it runs on whether or not this object lives."""
    def __repr__(self) -> str: ...
    def kind(self) -> MotionKind: ...
    def done(self) -> bool:
        """True once the final answer came (or the link was lost)."""
    def wait(self, timeout: Optional[float] = 60.0) -> MotionResult:
        """Waits for the end; on timeout sends STOP and raises krm.TimeoutError."""
    def wait_for(self, timeout: float) -> Optional[MotionResult]:
        """Waits at most `timeout` seconds; None when the motion has not ended (nothing is sent)."""
    def cancel(self, timeout: Optional[float] = 3.0) -> None:
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

_ReportKinds = Optional[Union[str, Iterable[Union[str, ReportKind]]]]

class Gripper:
    """One session with one gripper; a context manager that closes it."""
    def __init__(
        self,
        connection: str,
        timeout: Optional[float] = 10.0,
        *,
        reports: _ReportKinds = "default",
        report_period: float = 0.05,
        reconnect: bool = False,
    ) -> None:
        """Connects: "tcp:HOST:PORT", "serial:PATH[@BAUD]", "can:PLUGIN:INTERFACE[@KBITS][#ID]"."""
    @staticmethod
    def open(
        connection: str,
        timeout: Optional[float] = 10.0,
        *,
        reports: _ReportKinds = "default",
        report_period: float = 0.05,
        reconnect: bool = False,
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
    @property
    def link_state(self) -> LinkState:
        """The link: up, down (lost; with reconnect=True connecting again) or closed."""
    def connection(self) -> str: ...
    def info(self, timeout: Optional[float] = 3.0) -> Info: ...
    def limits(self, timeout: Optional[float] = 3.0) -> Limits: ...
    def state(self, timeout: Optional[float] = 3.0) -> State: ...
    def stats(self, reset: bool = False, timeout: Optional[float] = 3.0) -> Stats: ...
    def home(self, timeout: Optional[float] = 60.0) -> MotionResult: ...
    def move(self, position: float, speed: float, timeout: Optional[float] = 60.0) -> MotionResult: ...
    def grasp(self, width: float, speed: float, timeout: Optional[float] = 60.0) -> MotionResult: ...
    def release(self, width: float, speed: float, timeout: Optional[float] = 60.0) -> MotionResult: ...
    def start_home(self, timeout: Optional[float] = 3.0) -> Motion: ...
    def start_move(self, position: float, speed: float, timeout: Optional[float] = 3.0) -> Motion: ...
    def start_grasp(self, width: float, speed: float, timeout: Optional[float] = 3.0) -> Motion: ...
    def start_release(self, width: float, speed: float, timeout: Optional[float] = 3.0) -> Motion: ...
    def stop(self, timeout: Optional[float] = 3.0) -> None: ...
    def fast_stop(self, timeout: Optional[float] = 3.0) -> None: ...
    def acknowledge(self, timeout: Optional[float] = 3.0) -> None: ...
    def set_acceleration(self, acceleration: float, timeout: Optional[float] = 3.0) -> None: ...
    def acceleration(self, timeout: Optional[float] = 3.0) -> float: ...
    def set_force_limit(self, force: float, timeout: Optional[float] = 3.0) -> None: ...
    def force_limit(self, timeout: Optional[float] = 3.0) -> float: ...
    def raw(
        self, command: int, payload: Union[bytes, bytearray, Iterable[int]] = b"", timeout: Optional[float] = 3.0
    ) -> bytes: ...
    def request(
        self, command: int, payload: Union[bytes, bytearray, Iterable[int]] = b"", timeout: Optional[float] = 3.0
    ) -> Answer: ...
    def set_reports(self, kinds: _ReportKinds, period: float = 0.05, timeout: Optional[float] = 3.0) -> None: ...
    def on_packet(self, callback: Callable[[Packet], object]) -> int: ...
    def remove_packet_handler(self, id: int) -> None: ...
    def write_packet_log(self, path: str) -> None: ...
    def stray_answers(self) -> int: ...
    def on_report(self, callback: Callable[[Report], object]) -> int: ...
    def remove_report_handler(self, id: int) -> None: ...
    def reports(self, timeout: Optional[float] = None) -> ReportStream: ...
    def last_state(self) -> State: ...

def version() -> str: ...
def status_name(status: Status) -> str: ...
def status_text(status: Status) -> str: ...
def grasping_state_text(state: GraspingState) -> str: ...
def flag_texts(flags: int) -> list[str]: ...
def motion_name(kind: MotionKind) -> str: ...
def scan(
    connections: Sequence[str] = [],
    *,
    system_ports: bool = True,
    line_speeds: Sequence[int] = [],
    can_ids: range = range(0, 256),
    can_kbits: int = 250,
    answer_time: float = 0.25,
) -> ScanResult:
    """Finds grippers whose port, line speed or CAN identifier is unknown."""
