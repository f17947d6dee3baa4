#!/usr/bin/python3
"""Costs of the Python module krm against gripper-sim, measured in one run:

1. STOP round trip through krm.Gripper.stop() next to a raw Python socket
   that writes the STOP frame and reads its 10-byte answer (goal: median
   ratio <= 1.5). Each round measures both, one after the other, against
   the same simulator; the figure is the median of the rounds' ratios, so a
   drifting machine load falls on both sides alike.
2. Ctrl+C during a motion wait: the time from SIGINT to KeyboardInterrupt in
   a child process (goal: <= 100 ms).

    cd bench && ./bench_python.py [--build ../build] [--rounds 5] [--stops 400]
"""
import argparse
import os
import pathlib
import signal
import socket
import statistics
import subprocess
import sys
import time

STOP_FRAME = bytes([0xAA, 0xAA, 0xAA, 0x22, 0x00, 0x00, 0x0E, 0x76])
ANSWER_SIZE = 10  # preamble, command, length, status word, checksum

INTERRUPTED_SCRIPT = """
import sys, time, krm
g = krm.Gripper(sys.argv[1])
print("waiting", flush=True)
try:
    g.move(float(sys.argv[2]), 5)
except KeyboardInterrupt:
    print(time.monotonic(), flush=True)
"""


class Simulator:
    def __init__(self, sim, *args):
        self.process = subprocess.Popen([sim, "--tcp", "0", "--referenced", *args],
                                        stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("tcp port "):
            raise SystemExit(f"gripper-sim did not start: {line!r}")
        self.port = int(line.split()[2])
        self.connection = f"tcp:127.0.0.1:{self.port}"

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(10)


def raw_stops(sock, count):
    samples = []
    for _ in range(count):
        t0 = time.perf_counter()
        sock.sendall(STOP_FRAME)
        got = 0
        while got < ANSWER_SIZE:
            chunk = sock.recv(ANSWER_SIZE - got)
            if not chunk:
                raise SystemExit("the simulator closed the raw socket")
            got += len(chunk)
        samples.append(time.perf_counter() - t0)
    return samples


def krm_stops(gripper, count):
    samples = []
    for _ in range(count):
        t0 = time.perf_counter()
        gripper.stop()
        samples.append(time.perf_counter() - t0)
    return samples


def stop_round_trip(krm, sim_path, rounds, stops):
    # One simulator serves both sides, one client at a time, as in the C++
    # benchmark: two simulator processes may settle into different
    # scheduling (one of them for long stretches at three times the round
    # trip), which would compare the processes instead of the clients.
    sim = Simulator(sim_path)
    ratios = []
    try:
        print(f"== STOP round trip against the simulator, {rounds} rounds of {stops} ==")
        for r in range(rounds + 1):
            with socket.create_connection(("127.0.0.1", sim.port)) as sock:
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                raw = statistics.median(raw_stops(sock, stops))
            with krm.Gripper(sim.connection) as gripper:
                through = statistics.median(krm_stops(gripper, stops))
            if r == 0:
                continue  # warming up
            ratios.append(through / raw)
            print(f"round {r}: median raw socket {raw * 1e6:.1f} us, "
                  f"median krm {through * 1e6:.1f} us, ratio {through / raw:.2f}")
    finally:
        sim.stop()
    median = statistics.median(ratios)
    print(f"median ratio krm / raw socket: {median:.2f} (goal <= 1.5)")
    return median


def interrupt_latency(module_dir, sim_path, runs):
    sim = Simulator(sim_path)
    latencies = []
    try:
        env = {**os.environ, "PYTHONPATH": str(module_dir)}
        for run in range(runs):
            child = subprocess.Popen([sys.executable, "-c", INTERRUPTED_SCRIPT, sim.connection,
                                      "0" if run % 2 == 0 else "110"],
                                     stdout=subprocess.PIPE, text=True, env=env)
            if child.stdout.readline() != "waiting\n":
                raise SystemExit("the child did not start waiting")
            time.sleep(0.3)
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
            out, _ = child.communicate(timeout=20)
            latencies.append(float(out) - sent)
    finally:
        sim.stop()
    print(f"== Ctrl+C during a motion wait, {runs} runs ==")
    print(f"SIGINT to KeyboardInterrupt: median {statistics.median(latencies) * 1000:.1f} ms, "
          f"longest {max(latencies) * 1000:.1f} ms (goal <= 100 ms)")
    return max(latencies)


def main():
    here = pathlib.Path(__file__).resolve().parent
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", type=pathlib.Path, default=here.parent / "build", help="the build folder")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--stops", type=int, default=400, help="STOP round trips per round and side")
    parser.add_argument("--interrupts", type=int, default=10, help="Ctrl+C runs")
    args = parser.parse_args()
    module_dir = args.build / "python" / "module"
    sim_path = str(args.build / "sim" / "gripper-sim")
    sys.path.insert(0, str(module_dir))
    import krm

    ratio = stop_round_trip(krm, sim_path, args.rounds, args.stops)
    print()
    longest = interrupt_latency(module_dir, sim_path, args.interrupts)
    return 0 if ratio <= 1.5 and longest <= 0.1 else 1


if __name__ == "__main__":
    sys.exit(main())
