"""A session against the simulator: a cell cycle over TCP and a
pseudo-terminal, status and limit errors, motions watched and cancelled."""
import math
import time

import pytest

import krm


@pytest.mark.parametrize("pty", [False, True], ids=["tcp", "pty"])
def test_cell_cycle(start_sim, pty):
    sim = start_sim("--part-width", "30", pty=pty)
    with krm.Gripper(sim.connection) as g:
        assert g.is_open()
        info = g.info()
        assert (info.gripper_type, info.firmware_revision, info.serial_number) == (1, 259, 12345678)
        limits = g.limits()
        assert (limits.stroke, limits.max_speed, limits.extra) == (110, 420, 120)

        home = g.home()
        assert home.status == krm.Status.success and home.ok()
        assert home.kind == krm.MotionKind.home
        assert krm.Flag.referenced in g.state().flags

        g.move(60, 200)
        grasp = g.grasp(30, 100)
        assert grasp.status == krm.Status.success
        assert 0 < grasp.duration < 10
        assert grasp.position == pytest.approx(30, abs=0.5)
        assert g.state().grasping_state == krm.GraspingState.holding

        release = g.release(45, 100)
        assert release.ok() and release.position == pytest.approx(45, abs=0.5)
        # last_state follows the gripper's own reports, which may come a
        # report period after the motion's final answer.
        deadline = time.monotonic() + 5
        while abs(g.last_state().position - 45) > 0.5 and time.monotonic() < deadline:
            time.sleep(0.01)
        assert g.last_state().position == pytest.approx(45, abs=0.5)
        assert g.last_state().position_time == pytest.approx(time.time(), abs=30)

        g.set_acceleration(2500)
        assert g.acceleration() == pytest.approx(2500)
        g.set_force_limit(40)
        assert g.force_limit() == pytest.approx(40)
        assert g.raw(0x52) == b"GRIPPER"

        stats = g.stats(reset=True)
        assert (stats.grasps, stats.not_found, stats.lost) == (1, 0, 0)
        assert g.stats().grasps == 0
    assert not g.is_open()
    with pytest.raises(krm.ConnectionError):
        g.info()


def test_status_errors(start_sim):
    sim = start_sim("--force-status", "GET_SYSINFO=E_ACCESS_DENIED")
    with krm.Gripper.open(sim.connection) as g:
        with pytest.raises(krm.StatusError) as refused:
            g.move(50, 100)
        assert refused.value.code == krm.Status.not_initialized
        assert refused.value.name == "E_NOT_INITIALIZED"
        assert "E_NOT_INITIALIZED" in str(refused.value)

        with pytest.raises(krm.StatusError) as denied:
            g.info()
        assert denied.value.code == krm.Status.access_denied
        assert denied.value.text == "Access denied"

        g.home()
        g.fast_stop()
        with pytest.raises(krm.StatusError) as stopped:
            g.move(50, 100)
        assert stopped.value.code == krm.Status.access_denied
        assert "acknowledge" in stopped.value.advice
        g.acknowledge()

        # A motion that ran returns its final status instead of raising.
        missed = g.grasp(20, 100)
        assert missed.status == krm.Status.cmd_failed
        assert g.stats().not_found == 1

        with pytest.raises(krm.StatusError) as unknown:
            g.raw(0x99, b"\x01")
        assert unknown.value.code == krm.Status.cmd_unknown


def test_limit_errors_send_nothing(sim):
    with krm.Gripper(sim.connection) as g:
        cases = [
            lambda: g.move(111, 100),
            lambda: g.move(50, 1000),
            lambda: g.grasp(-1, 100),
            lambda: g.release(50, math.nan),
            lambda: g.start_move(50, 1),
            lambda: g.set_acceleration(99),
            lambda: g.set_force_limit(81),
        ]
        for case in cases:
            with pytest.raises(krm.LimitError) as error:
                case()
            assert isinstance(error.value, ValueError)
        assert "outside" in str(error.value)
        with pytest.raises(ValueError):
            g.raw(256)
        with pytest.raises(ValueError):
            g.info(timeout=-1)
        g.state()
    for command in ("GOTO", "GRASP_RAW", "RELEASE_RAW", "SET_ACCELERATION", "SET_FORCE_LIMIT"):
        assert sim.received(command) == 0, command


def test_connection_errors(start_sim):
    # A malformed string is a ValueError that a retry loop for lost
    # connections lets through.
    for malformed in ("tcp:127.0.0.1:notaport", "usb:1", "serial:/dev/ttyS0@5"):
        with pytest.raises(krm.ConnectionStringError) as error:
            krm.Gripper(malformed)
        assert isinstance(error.value, ValueError) and isinstance(error.value, krm.Error)
        assert not isinstance(error.value, ConnectionError)
        assert malformed in str(error.value)
    with pytest.raises(ValueError, match="PORT"):
        krm.Gripper("tcp:127.0.0.1:notaport")

    sim = start_sim()
    port = int(sim.connection.rsplit(":", 1)[1])
    sim.stop()
    with pytest.raises(krm.ConnectionError) as refused:
        krm.Gripper(f"tcp:127.0.0.1:{port}", timeout=5)
    assert isinstance(refused.value, ConnectionError)
    assert refused.value.cause


def test_lost_link_ends_motion_wait(start_sim):
    sim = start_sim("--referenced")
    with krm.Gripper(sim.connection) as g:
        motion = g.start_move(0, 5)
        sim.stop()
        with pytest.raises(krm.ConnectionError):
            motion.wait(timeout=20)
        assert motion.done()


def test_motion_cancel_and_timeout(sim):
    with krm.Gripper(sim.connection) as g:
        motion = g.start_move(100, 5)
        assert motion.kind() == krm.MotionKind.move
        assert not motion.done()
        assert motion.wait_for(0.05) is None
        motion.cancel()
        assert motion.wait(timeout=10).status == krm.Status.cmd_aborted
        assert sim.received("STOP") == 1

        with pytest.raises(krm.TimeoutError) as late:
            g.move(0, 5, timeout=0.2)
        assert isinstance(late.value, TimeoutError)
        assert sim.wait_received("STOP", 2)

        # Closing with a motion of this session running stops it first.
        g.start_move(100, 5)
    assert sim.wait_received("STOP", 3)
