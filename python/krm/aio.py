"""The calls of krm as coroutines, for programs written with asyncio::

    import asyncio, krm

    async def cell(connection):
        async with krm.aio.Gripper(connection) as g:
            await g.home()
            r = await g.grasp(30, 100)
            async for report in g.reports(timeout=2.0):
                print(report.position)

Every blocking call runs on a worker thread of the Gripper, so no thread of
the event loop waits for the gripper. A task that is cancelled while it
awaits a motion sends STOP to that motion, as Ctrl+C does for a blocking
call, and the cancellation goes on once STOP has been answered. Timeouts
are those of krm.Gripper: seconds, None waits without limit.
"""
import asyncio
import concurrent.futures
import functools
import typing
from typing import Any, Callable, Optional, Tuple, TypeVar, Union

from . import _krm
from ._values import Info, Limits, LinkState, MotionKind, MotionResult, Report, ReportKind, ScanResult, State, Stats

_T = TypeVar("_T")
_Item = TypeVar("_Item")
_Item_co = TypeVar("_Item_co", covariant=True)
_S = TypeVar("_S", bound="_Stream[Any]")

# A motion's start waits at most this long for the gripper to accept it.
_START_TIMEOUT = 3.0
# Worker threads of one Gripper: each blocking call and each waiting
# reports() or packets() iterator holds one.
_WORKERS = 32


class Motion:
    """A motion started by Gripper.start_home/start_move/start_grasp/
    start_release; it runs on whether or not this object lives."""

    def __init__(self, motion: _krm.Motion, gripper: "Gripper") -> None:
        self._motion = motion
        self._gripper = gripper

    def __repr__(self) -> str:
        return repr(self._motion).replace("<krm.Motion", "<krm.aio.Motion", 1)

    def kind(self) -> MotionKind:
        """The kind of the motion."""
        return self._motion.kind()

    def done(self) -> bool:
        """True once the final answer came (or the link was lost)."""
        return self._motion.done()

    async def wait(self, timeout: Optional[float] = 60.0) -> MotionResult:
        """Waits for the end of the motion. When the timeout runs out, STOP is
        sent and krm.TimeoutError raised; when the awaiting task is
        cancelled, STOP is sent before the cancellation goes on."""
        try:
            return await self._gripper._run(self._motion.wait, timeout)
        except asyncio.CancelledError:
            await self._gripper._run(self._motion.cancel)
            raise

    async def cancel(self, timeout: Optional[float] = 3.0) -> None:
        """Sends STOP if the motion is still running; it then ends with
        Status.cmd_aborted (wait() tells)."""
        await self._gripper._run(self._motion.cancel, timeout)


class _SyncStream(typing.Protocol[_Item_co]):
    """What krm.ReportStream and krm.PacketStream have in common."""

    def __next__(self) -> _Item_co: ...

    def close(self) -> None: ...

    @property
    def dropped(self) -> int: ...


class _Stream(typing.Generic[_Item]):
    """An asynchronous iterator over one of krm's streams, taken on the
    Gripper's worker threads; also an asynchronous context manager that
    stops taking at its end. `_items` names what it yields."""

    _items = ""

    def __init__(self, stream: _SyncStream[_Item], gripper: "Gripper") -> None:
        self._stream = stream
        self._gripper = gripper

    def __repr__(self) -> str:
        return f"<krm.aio.{type(self).__name__}, {self._stream.dropped} {self._items} dropped>"

    def __aiter__(self: _S) -> _S:
        return self

    async def __anext__(self) -> _Item:
        try:
            item = await self._gripper._run(self._next_or_none)
        except asyncio.CancelledError:
            self._stream.close()
            raise
        if item is None:
            raise StopAsyncIteration
        return item

    def _next_or_none(self) -> Optional[_Item]:
        # StopIteration cannot travel through a future.
        return next(self._stream, None)

    async def __aenter__(self: _S) -> _S:
        return self

    async def __aexit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        """Stops taking what it yields; the iteration ends."""
        self._stream.close()

    @property
    def dropped(self) -> int:
        """How many were dropped because more than 10,000 waited to be taken."""
        return self._stream.dropped


class Reports(_Stream[Report]):
    """The asynchronous iterator Gripper.reports() returns; also an
    asynchronous context manager that stops taking reports at its end."""

    _items = "reports"


class Packets(_Stream[_krm.Packet]):
    """The asynchronous iterator Gripper.packets() returns; also an
    asynchronous context manager that stops taking packets at its end."""

    _items = "packets"


class Gripper:
    """One session with one gripper, for asyncio: ``async with
    krm.aio.Gripper(connection) as g`` opens it, the end of the block closes
    it. ``await krm.aio.Gripper.open(connection)`` opens one as well. Keyword
    ``options`` go to krm.Gripper as they are."""

    def __init__(self, connection: str, timeout: Optional[float] = 10.0, **options: Any) -> None:
        self._connection = connection
        self._timeout = timeout
        self._options = options
        self._gripper: Optional[_krm.Gripper] = None
        self._executor = concurrent.futures.ThreadPoolExecutor(_WORKERS, thread_name_prefix="krm.aio")

    def __repr__(self) -> str:
        if self._gripper is None:
            return f"<krm.aio.Gripper {self._connection} not opened>"
        return repr(self._gripper).replace("<krm.Gripper", "<krm.aio.Gripper", 1)

    @classmethod
    async def open(cls, connection: str, timeout: Optional[float] = 10.0, **options: Any) -> "Gripper":
        """Connects and returns an opened krm.aio.Gripper; ``options`` are
        krm.Gripper's."""
        gripper = cls(connection, timeout, **options)
        await gripper._open()
        return gripper

    async def _open(self) -> None:
        self._gripper = await self._run(functools.partial(_krm.Gripper, **self._options), self._connection,
                                        self._timeout)

    async def __aenter__(self) -> "Gripper":
        await self._open()
        return self

    async def __aexit__(self, *exc: object) -> None:
        await self.close()

    async def _run(self, call: Callable[..., _T], *args: Any) -> _T:
        loop = asyncio.get_running_loop()
        return await loop.run_in_executor(self._executor, functools.partial(call, *args))

    @property
    def _g(self) -> _krm.Gripper:
        if self._gripper is None:
            raise _krm.ConnectionError(f"{self._connection}: the Gripper is not opened")
        return self._gripper

    async def close(self) -> None:
        """Sends STOP to a motion this session started that still runs, then
        closes the link. Harmless when already closed."""
        if self._gripper is not None:
            await self._run(self._gripper.close)
        self._executor.shutdown(wait=False)

    def is_open(self) -> bool:
        """True while the link is up."""
        return self._gripper is not None and self._gripper.is_open()

    @property
    def link_state(self) -> LinkState:
        """The link: up, down (lost; with reconnect=True connecting again) or
        closed (also before it is opened)."""
        return LinkState.closed if self._gripper is None else self._gripper.link_state

    def connection(self) -> str:
        """The connection string this Gripper was opened with."""
        return self._connection

    async def info(self, timeout: Optional[float] = 3.0) -> Info:
        """System information."""
        return await self._run(self._g.info, timeout)

    async def limits(self, timeout: Optional[float] = 3.0) -> Limits:
        """System limits, read from the gripper."""
        return await self._run(self._g.limits, timeout)

    async def state(self, timeout: Optional[float] = 3.0) -> State:
        """Asks the gripper for its system state, grasping state and position."""
        return await self._run(self._g.state, timeout)

    async def stats(self, reset: bool = False, timeout: Optional[float] = 3.0) -> Stats:
        """Grasping statistics; ``reset`` clears them after reading."""
        return await self._run(self._g.stats, reset, timeout)

    async def _motion(self, start: Callable[..., _krm.Motion], args: Tuple[float, ...],
                      timeout: Optional[float]) -> MotionResult:
        starting = asyncio.ensure_future(self._run(start, *args, _START_TIMEOUT))
        try:
            motion = await asyncio.shield(starting)
        except asyncio.CancelledError:
            # The gripper may accept the motion after all: it is stopped then.
            started = await asyncio.gather(starting, return_exceptions=True)
            if isinstance(started[0], _krm.Motion):
                await self._run(started[0].cancel)
            raise
        return await Motion(motion, self).wait(timeout)

    async def home(self, timeout: Optional[float] = 60.0) -> MotionResult:
        """Homes the fingers and waits for the end."""
        return await self._motion(self._g.start_home, (), timeout)

    async def move(self, position: float, speed: float, timeout: Optional[float] = 60.0) -> MotionResult:
        """Moves the fingers to ``position`` (mm) at ``speed`` (mm/s) and waits for the end."""
        return await self._motion(self._g.start_move, (position, speed), timeout)

    async def grasp(self, width: float, speed: float, timeout: Optional[float] = 60.0) -> MotionResult:
        """Grasps a part of nominal ``width`` (mm) at ``speed`` (mm/s) and waits for the end."""
        return await self._motion(self._g.start_grasp, (width, speed), timeout)

    async def release(self, width: float, speed: float, timeout: Optional[float] = 60.0) -> MotionResult:
        """Opens to ``width`` (mm) at ``speed`` (mm/s) and waits for the end."""
        return await self._motion(self._g.start_release, (width, speed), timeout)

    async def start_home(self, timeout: Optional[float] = 3.0) -> Motion:
        """Starts homing; the motion once the gripper accepted it."""
        return Motion(await self._run(self._g.start_home, timeout), self)

    async def start_move(self, position: float, speed: float, timeout: Optional[float] = 3.0) -> Motion:
        """Starts a move; the motion once the gripper accepted it."""
        return Motion(await self._run(self._g.start_move, position, speed, timeout), self)

    async def start_grasp(self, width: float, speed: float, timeout: Optional[float] = 3.0) -> Motion:
        """Starts a grasp; the motion once the gripper accepted it."""
        return Motion(await self._run(self._g.start_grasp, width, speed, timeout), self)

    async def start_release(self, width: float, speed: float, timeout: Optional[float] = 3.0) -> Motion:
        """Starts a release; the motion once the gripper accepted it."""
        return Motion(await self._run(self._g.start_release, width, speed, timeout), self)

    async def stop(self, timeout: Optional[float] = 3.0) -> None:
        """Stops the fingers."""
        await self._run(self._g.stop, timeout)

    async def fast_stop(self, timeout: Optional[float] = 3.0) -> None:
        """Stops at once; motions are refused until acknowledge()."""
        await self._run(self._g.fast_stop, timeout)

    async def acknowledge(self, timeout: Optional[float] = 3.0) -> None:
        """Acknowledges a fast stop."""
        await self._run(self._g.acknowledge, timeout)

    async def set_acceleration(self, acceleration: float, timeout: Optional[float] = 3.0) -> None:
        """Sets the acceleration (mm/s²)."""
        await self._run(self._g.set_acceleration, acceleration, timeout)

    async def acceleration(self, timeout: Optional[float] = 3.0) -> float:
        """The acceleration (mm/s²)."""
        return await self._run(self._g.acceleration, timeout)

    async def set_force_limit(self, force: float, timeout: Optional[float] = 3.0) -> None:
        """Sets the grasping-force limit (N)."""
        await self._run(self._g.set_force_limit, force, timeout)

    async def force_limit(self, timeout: Optional[float] = 3.0) -> float:
        """The grasping-force limit (N)."""
        return await self._run(self._g.force_limit, timeout)

    async def raw(self, command: int, payload: Union[bytes, bytearray, typing.Iterable[int]] = b"",
                  timeout: Optional[float] = 3.0) -> bytes:
        """Sends any command byte with any payload; the result bytes of its answer."""
        return await self._run(self._g.raw, command, payload, timeout)

    async def request(self, command: int, payload: Union[bytes, bytearray, typing.Iterable[int]] = b"",
                      timeout: Optional[float] = 3.0) -> _krm.Answer:
        """Sends any command byte with any payload; the answer, whatever its
        status, telling a pending first answer from the final one."""
        return await self._run(self._g.request, command, payload, timeout)

    async def set_reports(self, kinds: Optional[Union[str, typing.Iterable[Union[str, ReportKind]]]],
                          period: float = 0.05, timeout: Optional[float] = 3.0) -> None:
        """Chooses the reports the gripper sends by itself and their period (s)."""
        await self._run(self._g.set_reports, kinds, period, timeout)

    def on_packet(self, callback: Callable[[_krm.Packet], object]) -> int:
        """Calls ``callback`` for every packet sent or received (on a thread of
        the library); an id for remove_packet_handler."""
        return self._g.on_packet(callback)

    def remove_packet_handler(self, id: int) -> None:
        """Ends a packet handler."""
        self._g.remove_packet_handler(id)

    def packets(self, timeout: Optional[float] = None) -> Packets:
        """The frames sent and received from now on (krm.Packet), for
        ``timeout`` seconds (None: until the iterator is closed):
        ``async for packet in g.packets()``."""
        return Packets(self._g.packets(timeout), self)

    def write_packet_log(self, path: str) -> None:
        """Writes the session's traffic from now on to ``path`` as a CSV packet log."""
        self._g.write_packet_log(path)

    def stray_answers(self) -> int:
        """How many answers came while no request waited."""
        return self._g.stray_answers()

    def reports(self, timeout: Optional[float] = None) -> Reports:
        """The reports the gripper sends from now on, for ``timeout`` seconds
        (None: until the iterator is closed): ``async for report in g.reports()``."""
        return Reports(self._g.reports(timeout), self)

    def last_state(self) -> State:
        """The latest values the gripper reported by itself; sends nothing."""
        return self._g.last_state()


async def scan(connections: typing.Iterable[str] = (), *, system_ports: bool = True, line_speeds: typing.Iterable[int] = (),
               can_ids: range = range(0, 256), can_kbits: int = 250, answer_time: float = 0.25) -> ScanResult:
    """krm.scan() as a coroutine."""
    loop = asyncio.get_running_loop()
    return await loop.run_in_executor(None, functools.partial(
        _krm.scan, list(connections), system_ports=system_ports, line_speeds=list(line_speeds), can_ids=can_ids,
        can_kbits=can_kbits, answer_time=answer_time))
