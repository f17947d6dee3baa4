"""One gripper session from Python::

    import krm

    with krm.Gripper("tcp:127.0.0.1:1000") as g:
        g.home()
        r = g.grasp(30, 100)      # r.status, r.duration (s), r.position (mm)
        if krm.Flag.referenced in g.state().flags:
            ...

Units: mm, mm/s, mm/s², N; timeouts and durations in seconds. A timeout of
None waits without limit. Results and readings are frozen dataclasses
(compare, pickle, copy, ``dataclasses.asdict``); status codes and states
are ``enum.IntEnum``, the state flags an ``enum.IntFlag``. The same calls as
coroutines are in krm.aio.
"""
from ._values import (
    Flag,
    FoundGripper,
    GraspingState,
    Info,
    Limits,
    LinkState,
    MotionKind,
    MotionResult,
    Report,
    ReportKind,
    ScanProblem,
    ScanProblemKind,
    ScanResult,
    Stats,
    State,
    Status,
)
from ._krm import (
    Answer,
    ConnectionError,
    ConnectionStringError,
    Error,
    Gripper,
    LimitError,
    Motion,
    Packet,
    PacketStream,
    ReportStream,
    StatusError,
    TimeoutError,
    __version__,
    flag_texts,
    grasping_state_text,
    motion_name,
    scan,
    status_name,
    status_text,
    version,
)
from . import aio

__all__ = [
    "Answer",
    "ConnectionError",
    "ConnectionStringError",
    "Error",
    "Flag",
    "FoundGripper",
    "GraspingState",
    "Gripper",
    "Info",
    "LimitError",
    "Limits",
    "LinkState",
    "Motion",
    "MotionKind",
    "MotionResult",
    "Packet",
    "PacketStream",
    "Report",
    "ReportKind",
    "ReportStream",
    "ScanProblem",
    "ScanProblemKind",
    "ScanResult",
    "Stats",
    "State",
    "Status",
    "StatusError",
    "TimeoutError",
    "aio",
    "flag_texts",
    "grasping_state_text",
    "motion_name",
    "scan",
    "status_name",
    "status_text",
    "version",
]
