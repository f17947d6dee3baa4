"""krm.aio against the simulator: the calls as coroutines, reports and
frames as asynchronous iterators, a cancelled task that sends STOP, and an event loop
that keeps running while the gripper works."""
import asyncio
import time

import pytest

import krm


@pytest.mark.asyncio
async def test_calls_as_coroutines(sim):
    async with krm.aio.Gripper(sim.connection) as g:
        assert g.is_open()
        assert (await g.info()).serial_number == 12345678
        result = await g.grasp(30, 100)
        assert result.ok() and result.position == pytest.approx(30, abs=0.5)
        assert (await g.state()).grasping_state == krm.GraspingState.holding
        motion = await g.start_release(60, 50)
        kinds = set()
        async for report in g.reports(timeout=1.0):
            kinds.add(report.kind)
            if report.kind == krm.ReportKind.position:
                break
        assert krm.ReportKind.position in kinds
        assert (await motion.wait()).ok()
        async with g.packets(timeout=0.5) as frames:
            assert await g.raw(0x52) == b"GRIPPER"
            seen = [p.direction async for p in frames if p.command == 0x52]
        assert seen == ["sent", "received"]
        assert repr(frames) == "<krm.aio.Packets, 0 packets dropped>"
    assert not g.is_open()
    with pytest.raises(krm.ConnectionStringError):
        await krm.aio.Gripper.open("usb:1")


@pytest.mark.asyncio
async def test_requests_report_choice_and_packets_as_coroutines(sim, tmp_path):
    async with krm.aio.Gripper(sim.connection, reports=None) as g:
        packets = []
        g.on_packet(packets.append)
        log = tmp_path / "traffic.csv"
        g.write_packet_log(str(log))
        homing = await g.request(0x20, b"\x00", timeout=30)
        assert homing.status == krm.Status.success and homing.pending
        refused = await g.request(0x21, b"", timeout=3)
        assert refused.status != krm.Status.success and not refused.pending
        await g.set_reports(["position"], period=0.02)
        await g.start_move(20, 100)
        async for report in g.reports(timeout=5.0):
            assert report.kind == krm.ReportKind.position
            if report.position < 25:
                break
        await g.stop()
        assert g.stray_answers() == 0
    assert {p.command for p in packets} >= {0x20, 0x21, 0x22}
    assert "HOMING" in log.read_text()


@pytest.mark.asyncio
async def test_cancelled_motion_sends_stop_and_the_loop_runs_on(sim):
    async with krm.aio.Gripper(sim.connection) as g:
        ticks = 0

        async def ticker():
            nonlocal ticks
            while True:
                await asyncio.sleep(0.01)
                ticks += 1

        counting = asyncio.create_task(ticker())
        move = asyncio.create_task(g.move(0, 5))
        assert await asyncio.to_thread(sim.wait_received, "GOTO")
        await asyncio.sleep(0.2)
        move.cancel()
        with pytest.raises(asyncio.CancelledError):
            await move
        assert sim.received("STOP") == 1, "STOP is on the wire when the cancellation ends"
        # The loop ran all along: the ticker advanced while the motion ran.
        assert ticks >= 10
        counting.cancel()
        await asyncio.sleep(0.5)
        state = await g.state()
        assert krm.Flag.moving not in state.flags
        assert state.position > 40, "stopped on its way to 0"



@pytest.mark.asyncio
async def test_cancelled_report_wait_ends_the_iterator(sim):
    async with krm.aio.Gripper(sim.connection) as g:
        reports = g.reports()

        async def first():
            return await reports.__anext__()

        waiting = asyncio.create_task(first())
        await asyncio.sleep(0.1)
        started = time.monotonic()
        waiting.cancel()
        with pytest.raises(asyncio.CancelledError):
            await waiting
        assert time.monotonic() - started < 1
        with pytest.raises(StopAsyncIteration):
            await reports.__anext__()


def test_reconnect_after_the_simulator_restarts(start_sim):
    """reconnect=True: calls fail at once while the link is down, link_state
    tells, and after the simulator is back the session works again with its
    reports; the motion the loss ended is not sent again."""
    first = start_sim("--referenced")
    port = int(first.connection.rsplit(":", 1)[1])

    async def cell():
        async with krm.aio.Gripper(first.connection, reconnect=True, reports=["position"],
                                   report_period=0.02) as g:
            assert g.link_state is krm.LinkState.up
            await g.move(0, 400)
            motion = await g.start_move(110, 10)
            first.process.kill()
            with pytest.raises(krm.ConnectionError):
                await motion.wait(5.0)
            started = time.monotonic()
            with pytest.raises(krm.ConnectionError):
                await g.info()
            assert time.monotonic() - started < 1.0  # at once, not after an answer time
            assert g.link_state is krm.LinkState.down
            second = start_sim("--referenced", port=port)
            deadline = time.monotonic() + 15
            while g.link_state is not krm.LinkState.up and time.monotonic() < deadline:
                await asyncio.sleep(0.02)
            assert g.link_state is krm.LinkState.up
            assert second.received("GOTO") == 0
            reports = g.reports(timeout=3.0)
            assert (await g.move(50, 400)).ok()
            assert isinstance(await reports.__anext__(), krm.Report)
            reports.close()
        assert g.link_state is krm.LinkState.closed

    asyncio.run(cell())
