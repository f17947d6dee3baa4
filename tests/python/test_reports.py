"""Reports: the iterator, callbacks on the library's thread, and closing
while a callback runs."""
import threading
import time

import krm


def test_reports_iterator_follows_a_move(sim):
    with krm.Gripper(sim.connection) as g:
        g.start_move(100, 50)  # about 1 s
        positions = []
        started = time.monotonic()
        with g.reports(timeout=1.0) as reports:
            for report in reports:
                assert isinstance(report, krm.Report)
                if report.kind == krm.Report.Kind.position:
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
        assert any(kind == krm.Report.Kind.position for kind, _ in seen)
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
        assert krm.Report.Kind.position in kinds
