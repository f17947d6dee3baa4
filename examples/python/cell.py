#!/usr/bin/python3
"""A robot cell's gripper cycle: home, then grasp and release a part 20
times, printing each motion's duration, then the grasping statistics.

    examples/python/cell.py tcp:127.0.0.1:1000
    KRM_CONNECT=serial:/dev/ttyUSB0 examples/python/cell.py --width 30
"""
import argparse
import os
import sys

import krm


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("connection", nargs="?", default=os.environ.get("KRM_CONNECT"),
                        help="connection string (default: $KRM_CONNECT)")
    parser.add_argument("--width", type=float, default=30.0, help="nominal part width in mm (30)")
    parser.add_argument("--open", type=float, default=10.0, help="release this far beyond the width, in mm (10)")
    parser.add_argument("--speed", type=float, default=100.0, help="finger speed in mm/s (100)")
    parser.add_argument("--cycles", type=int, default=20, help="grasp and release cycles (20)")
    args = parser.parse_args()
    if not args.connection:
        parser.error("give a connection string or set KRM_CONNECT")

    try:
        with krm.Gripper(args.connection) as gripper:
            home = gripper.home()
            print(f"home: {home.status.name} in {home.duration:.3f} s")
            gripper.stats(reset=True)
            for cycle in range(1, args.cycles + 1):
                grasp = gripper.grasp(args.width, args.speed)
                release = gripper.release(args.width + args.open, args.speed)
                print(f"cycle {cycle}: grasp {grasp.status.name} at {grasp.position:.1f} mm "
                      f"in {grasp.duration:.3f} s, release {release.status.name} in {release.duration:.3f} s")
                if not (grasp.ok() and release.ok()):
                    print("the cycle failed; stopping", file=sys.stderr)
                    return 1
            stats = gripper.stats()
            print(f"statistics: {stats.grasps} grasps, {stats.not_found} without a part, {stats.lost} parts lost")
    except krm.Error as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
