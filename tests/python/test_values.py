"""The package's Python forms against the simulator: enums and flags as
enum types, results as frozen dataclasses, timeouts that never overflow,
and the scan at several line speeds."""
import copy
import dataclasses
import json
import math
import pickle

import pytest

import krm


def test_enums_flags_and_dataclasses(sim):
    with krm.Gripper(sim.connection) as g:
        result = g.grasp(30, 100)
        state = g.state()
        values = [result, state, g.info(), g.limits(), g.stats()]
        with g.reports(timeout=2.0) as reports:
            g.start_release(50, 50)
            values.append(next(reports))

    assert result.status == 0 and result.ok()
    assert list(krm.Status)[:2] == [krm.Status.success, krm.Status.not_available]
    assert len(krm.Status) == 32
    assert result.kind is krm.MotionKind.grasp
    assert isinstance(values[-1].kind, krm.ReportKind)
    assert krm.Flag.referenced in state.flags
    assert krm.Flag.moving not in state.flags
    assert state.grasping_state == krm.GraspingState.holding == 4

    for value in values:
        assert pickle.loads(pickle.dumps(value)) == value
        assert copy.deepcopy(value) == value
        assert dataclasses.asdict(value)
        with pytest.raises(dataclasses.FrozenInstanceError):
            value.position = 1.0
    assert dataclasses.replace(result, position=1.0) != result
    as_dict = dataclasses.asdict(state)
    assert as_dict["position"] == pytest.approx(30, abs=0.5)
    json.dumps({k: v for k, v in dataclasses.asdict(result).items() if k != "data"})

    assert "position=30.0 mm" in repr(result) and "duration=" in repr(result) and " s," in repr(result)
    assert "max_acceleration=5000.0 mm/s²" in repr(values[3])
    assert "force=" in repr(state) and " N," in repr(state)


def test_flags_keep_unknown_bits():
    flags = krm.Flag(0x1 | 0x200)
    assert krm.Flag.referenced in flags
    assert int(flags) == 0x201


def test_timeouts(sim):
    with krm.Gripper(sim.connection) as g:
        # No limit, or more than can be counted: the motion runs to its end.
        for position, timeout in zip((40, 60, 80, 100), (None, math.inf, 1e10, 1e300)):
            assert g.move(position, 200, timeout=timeout).ok(), timeout
            assert g.info(timeout=timeout).serial_number == 12345678
        for bad in (-1, -math.inf, math.nan):
            with pytest.raises(ValueError):
                g.move(50, 100, timeout=bad)
            with pytest.raises(ValueError):
                g.info(timeout=bad)
        assert g.start_move(60, 100).wait(timeout=math.inf).ok()
    assert sim.received("STOP") == 0
    import inspect
    assert "timeout: Optional[float] = 3.0" in krm.Gripper.info.__doc__
    assert "timeout: Optional[float] = 60.0" in krm.Gripper.grasp.__doc__
    assert inspect.signature(krm.aio.Gripper.grasp).parameters["timeout"].default == 60.0


@pytest.mark.parametrize("baud", [115200, 9600, 1200])
def test_scan_finds_the_line_speed(start_sim, baud):
    sim = start_sim("--baud", str(baud), "--serial", "777", pty=True)
    path = sim.connection.split("@")[0]
    result = krm.scan([path], system_ports=False)
    assert result.problems == ()
    assert [f.connection for f in result.found] == [f"{path}@{baud}"]
    assert result.found[0].info.serial_number == 777
    with krm.Gripper(result.found[0].connection) as g:
        assert g.info().serial_number == 777


def test_scan_refuses_bad_input():
    with pytest.raises(krm.ConnectionStringError):
        krm.scan(["serial:"], system_ports=False)
    with pytest.raises(ValueError):
        krm.scan(["tcp:127.0.0.1:1"], system_ports=False, line_speeds=[300])
    with pytest.raises(ValueError):
        krm.scan(["tcp:127.0.0.1:1"], system_ports=False, can_ids=range(5, 1))
    unreachable = krm.scan(["tcp:127.0.0.1:1"], system_ports=False)
    assert unreachable.found == ()
    assert unreachable.problems[0].kind is krm.ScanProblemKind.unreachable
