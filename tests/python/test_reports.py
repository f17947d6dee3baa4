"""Reports: the iterator, callbacks on the library's thread, and closing
while a callback runs."""
import threading
import time

import krm
import pytest


def test_reports_iterator_follows_a_move(sim):
    with krm.Gripper(sim.connection) as g:
        g.start_move(100, 50)  # about 1 s
        positions = []
        started = time.monotonic()
        with g.reports(timeout=1.0) as reports:
            for report in reports:
                assert isinstance(report, krm.Report)
                if report.kind == krm.ReportKind.position:
                    positions.append(report.position)
        assert time.monotonic() - started >= 1.0
        assert len(positions) >= 3
        assert positions == sorted(positions) and positions[-1] > positions[0]
        assert reports.dropped == 0
        # The iterator is done: no further reports, no error.
        assert list(reports) == []


def test_report_callbacks_run_on_another_thread(sim, monkeypatch):
    unraisable = []
    monkeypatch.setattr("sys.unraisablehook", lambda info: unraisable.append(info.exc_value))
    with krm.Gripper(sim.connection) as g:
        seen = []
        failing_called = threading.Event()

        def failing(report):
            failing_called.set()
            raise RuntimeError("a callback's error is printed, not passed on")

        first = g.on_report(lambda report: seen.append((report.kind, threading.get_ident())))
        g.on_report(failing)
        g.move(80, 200)
        assert failing_called.wait(5)
        time.sleep(0.1)
        assert isinstance(unraisable[0], RuntimeError)
        assert any(kind == krm.ReportKind.position for kind, _ in seen)
        assert all(ident != threading.get_ident() for _, ident in seen)

        g.remove_report_handler(first)
        time.sleep(0.2)
        count = len(seen)
        g.move(60, 200)
        time.sleep(0.2)
        assert len(seen) == count
        # The session still works after the failing callback.
        assert g.state().position == 60


def test_close_while_a_callback_runs(sim):
    g = krm.Gripper(sim.connection)
    inside = threading.Event()
    calls = []

    def slow(report):
        calls.append(report)
        inside.set()
        deadline = time.monotonic() + 0.5
        while time.monotonic() < deadline:  # holds the GIL most of the time
            pass

    g.on_report(slow)
    g.start_move(100, 50)
    assert inside.wait(5)
    g.close()
    count = len(calls)
    time.sleep(0.3)
    assert len(calls) == count
    assert not g.is_open()


def test_callbacks_call_the_gripper_and_close_it(sim, monkeypatch, capfd):
    """A callback's own request lets further reports arrive: they wait for
    the callback to return instead of calling it again, nested. The last
    callback closes the Gripper, cleanly."""
    unraisable = []
    monkeypatch.setattr("sys.unraisablehook", lambda info: unraisable.append(info.exc_value))
    g = krm.Gripper(sim.connection)
    g.move(0, 400)
    inside = []
    overlaps = []
    closed = threading.Event()

    def callback(report):
        if closed.is_set():
            return
        overlaps.append(len(inside))
        inside.append(report)
        g.state()
        inside.pop()
        if len(overlaps) == 20:
            g.close()
            closed.set()

    g.on_report(callback)
    motion = g.start_move(110, 20)
    assert closed.wait(10)
    with pytest.raises(krm.ConnectionError):
        motion.wait(5)
    assert not g.is_open()
    assert unraisable == []
    assert set(overlaps) == {0}
    assert "wait on itself" not in capfd.readouterr().err


def test_reports_from_another_thread_while_main_waits(sim):
    """A second Python thread takes reports while the main thread waits for
    a motion: both run, since waits do not hold the GIL."""
    with krm.Gripper(sim.connection) as g:
        kinds = []

        def watch():
            for report in g.reports(timeout=1.0):
                kinds.append(report.kind)

        watcher = threading.Thread(target=watch)
        watcher.start()
        time.sleep(0.1)
        assert g.move(100, 100).ok()
        watcher.join(10)
        assert not watcher.is_alive()
        assert krm.ReportKind.position in kinds
