"""The session engine's rules as a Python program meets them: STOP is on the
wire before KeyboardInterrupt is raised, reports are chosen at open and go
off at close, packets reach on_packet, and the logger "krm" tells what the
session did."""
import logging
import os
import signal
import subprocess
import sys
import time

import krm

SCRIPT = """
import os, sys, krm
g = krm.Gripper(sys.argv[1], reports=None)
print("waiting", flush=True)
try:
    g.move(0, 5)
except KeyboardInterrupt:
    # Ends at once, as a crash in a handler would: nothing is left to send.
    os._exit(3)
"""


def test_stop_is_on_the_wire_before_keyboard_interrupt(start_sim, tmp_path):
    sim = start_sim("--referenced")
    script = tmp_path / "exit.py"
    script.write_text(SCRIPT)
    child = subprocess.Popen([sys.executable, str(script), sim.connection],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env={**os.environ, "PYTHONUNBUFFERED": "1"})
    try:
        assert child.stdout.readline() == "waiting\n", child.stderr.read()
        assert sim.wait_received("GOTO")
        child.send_signal(signal.SIGINT)
        child.communicate(timeout=20)
    finally:
        child.kill()
    assert child.returncode == 3
    assert sim.wait_received("STOP", timeout=2.0)


def test_reports_are_chosen_at_open_and_switched_off_at_close(start_sim):
    sim = start_sim("--referenced")
    with krm.Gripper(sim.connection, reports=None) as g:
        g.info()
    assert sim.received("GET_SYSTEM_STATE") == 0
    assert sim.received("GET_POS") == 0

    seen = []
    with krm.Gripper(sim.connection, reports=["position"], report_period=0.02) as g:
        g.on_report(seen.append)
        g.move(20, 400)
        deadline = time.monotonic() + 2
        while not any(abs(r.position - 20) < 0.5 for r in seen) and time.monotonic() < deadline:
            time.sleep(0.02)
    assert {r.kind for r in seen} == {krm.ReportKind.position}
    # On, the read after the motion, and off again.
    assert sim.wait_received("GET_POS", 3)
    assert sim.received("GET_SYSTEM_STATE") == 0


def test_packets_and_the_krm_logger(start_sim, caplog):
    sim = start_sim("--referenced", "--drop", "GOTO")
    packets = []
    with caplog.at_level(logging.DEBUG, logger="krm"):
        with krm.Gripper(sim.connection, reports=None) as g:
            g.on_packet(packets.append)
            try:
                g.move(50, 100, timeout=0.3)
            except krm.TimeoutError as error:
                assert "STOP sent and answered" in str(error)
            else:
                raise AssertionError("the move had no answer")
    sent = [p.command for p in packets if p.direction == "sent"]
    assert sent[:2] == [0x21, 0x22]
    assert all(p.ok() for p in packets)
    texts = [r.getMessage() for r in caplog.records]
    assert any(t.endswith(": connected") for t in texts), texts
    assert any("move: no answer; STOP sent" in t for t in texts), texts
    assert any(t.startswith("TX 0x21:") and r.levelno == logging.DEBUG for t, r in zip(texts, caplog.records))
