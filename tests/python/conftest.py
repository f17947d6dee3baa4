"""Fixtures for the krm module's tests: gripper-sim as a child process on a
free loopback TCP port or a pseudo-terminal in the test's temporary folder,
with its frame log (--verbose) in a file the tests can read."""
import os
import re
import select
import signal
import subprocess
import time

import pytest

SIM = os.environ.get("KRM_SIM", "gripper-sim")


class Simulator:
    """gripper-sim with `args`; `connection` is the krm connection string.
    `port`: that TCP port instead of a free one (a simulator started again)."""

    def __init__(self, folder, *args, pty=False, port=0):
        self.log_path = folder / "sim-frames.log"
        transport = ["--pty", str(folder / "gripper-tty")] if pty else ["--tcp", str(port)]
        self._log = open(self.log_path, "w")
        self.process = subprocess.Popen(
            [SIM, *transport, "--verbose", *args],
            stdout=subprocess.PIPE, stderr=self._log, text=True)
        line = self._ready_line()
        if pty:
            self.connection = f"serial:{folder / 'gripper-tty'}@115200"
        else:
            port = int(line.split()[2])
            self.connection = f"tcp:127.0.0.1:{port}"

    def _ready_line(self):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.5)
            if ready:
                line = self.process.stdout.readline()
                if line.startswith(("tcp port", "pty ")):
                    return line
                if not line:
                    break
        self.stop()
        raise RuntimeError(f"gripper-sim did not start: {self.log_path.read_text()}")

    def received(self, command_name):
        """How many frames with this command name the simulator received."""
        self._log.flush()
        return len(re.findall(rf"RX [0-9a-f]{{2}}h {command_name}:", self.log_path.read_text()))

    def wait_received(self, command_name, count=1, timeout=10.0):
        """Waits until `count` such frames came; False when they did not."""
        deadline = time.monotonic() + timeout
        while self.received(command_name) < count:
            if time.monotonic() > deadline:
                return False
            time.sleep(0.02)
        return True

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self._log.close()


@pytest.fixture
def start_sim(tmp_path):
    """start_sim(*args, pty=False, port=0) -> Simulator; all are stopped afterwards."""
    started = []

    def start(*args, pty=False, port=0):
        folder = tmp_path / f"sim{len(started)}"
        folder.mkdir()
        sim = Simulator(folder, *args, pty=pty, port=port)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


@pytest.fixture
def sim(start_sim):
    """A referenced gripper holding a 30 mm part, over TCP."""
    return start_sim("--referenced", "--part-width", "30")
