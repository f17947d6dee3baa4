"""examples/python/cell.py against the simulator."""
import os
import pathlib
import re
import subprocess
import sys

EXAMPLE = pathlib.Path(os.environ.get(
    "KRM_CELL_EXAMPLE", pathlib.Path(__file__).parents[2] / "examples" / "python" / "cell.py"))


def run(*args, **env):
    return subprocess.run([sys.executable, str(EXAMPLE), *args], capture_output=True, text=True,
                          timeout=120, env={**os.environ, **env})


def test_cell_example(start_sim):
    sim = start_sim("--part-width", "30")
    done = run(sim.connection)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert re.fullmatch(r"home: success in \d+\.\d{3} s", lines[0])
    cycles = [l for l in lines if l.startswith("cycle ")]
    assert len(cycles) == 20
    for cycle in cycles:
        assert re.fullmatch(r"cycle \d+: grasp success at \d+\.\d mm in \d+\.\d{3} s, "
                            r"release success in \d+\.\d{3} s", cycle), cycle
    assert lines[-1] == "statistics: 20 grasps, 0 without a part, 0 parts lost"
    assert sim.received("GRASP_RAW") == 20


def test_cell_example_reports_errors(start_sim):
    sim = start_sim()  # no part: the first grasp finds none
    failed = run(KRM_CONNECT=sim.connection)
    assert failed.returncode == 1
    assert "grasp cmd_failed" in failed.stdout
    assert "the cycle failed" in failed.stderr
    unreachable = run("tcp:127.0.0.1:notaport")
    assert unreachable.returncode == 1 and unreachable.stderr.startswith("error: ")
