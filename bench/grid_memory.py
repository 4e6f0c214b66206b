#!/usr/bin/env python3
"""Peak memory of one long search: a car route across a street grid.

  bench/grid_memory.py [--side 1000] [--build build] [--binary <router>]

Writes a street grid of --side x --side crossings between 17.5 E, 47.5 N and
17.9 E, 47.9 N (residential streets, every fourth a tertiary road, one primary
diagonal; build/bench/realdata/realdata_convert writes it, into
build-grid/<side>/, kept for the next run), asks one fresh service for a car
route from corner to corner and prints the route's totals, the time and the
peak resident memory of the process. The route's search holds a large graph
for a long time: what it lets go of must be used again, so that the peak stays
near what it still needs (about 110 MB for 1000, 390 MB for 2000).
"""
import argparse
import multiprocessing
import os
import re
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(REPO, "bench"))
from history_check import street_grid  # noqa: E402  (the history check's grid writer)

REQUEST = "1\tprofile=profiles/car.vpf&lonlats=17.5001,47.5001;17.9,47.9\nquit\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--side", type=int, default=1000, help="crossings a side")
    parser.add_argument("--build", default=os.path.join(REPO, "build"), help="the build directory")
    parser.add_argument("--binary", help="the service to measure (default: <build>/trevassa-router)")
    args = parser.parse_args()
    router = args.binary or os.path.join(args.build, "trevassa-router")

    target = os.path.join(REPO, "build-grid", str(args.side))
    if not os.path.exists(os.path.join(target, "E15_N45.rd5")):
        step = 0.4 / args.side
        os.makedirs(target, exist_ok=True)
        # Written by a process of its own: the service, started from this
        # one, starts out with this process's peak (it survives the exec).
        writer = multiprocessing.Process(target=street_grid, args=(
            17.5001, 47.5001, 17.5001 + 0.4 - step / 2, 47.5001 + 0.4 - step / 2, step, "N47E017.hgt", args.build,
            target), kwargs={"lon_step": step})
        writer.start()
        writer.join()
        if writer.exitcode != 0:
            sys.exit("writing the grid failed")

    start = time.monotonic()
    service = subprocess.Popen([router, target], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, cwd=REPO)
    service.stdin.write(REQUEST)
    service.stdin.close()
    output = service.stdout.read()
    # Reaped here for the service's own peak (the converter's is not wanted).
    _, status, usage = os.wait4(service.pid, 0)
    service.returncode = os.waitstatus_to_exitcode(status)
    seconds = time.monotonic() - start
    if service.returncode != 0:
        sys.exit("the service ended with %d" % service.returncode)
    peak_mib = usage.ru_maxrss / 1024.0
    answer = output.splitlines()[1]
    totals = re.findall(r'"(track-length|cost)":"(\d+)"', answer)
    print("grid %d x %d: %s, %.1f s, peak memory %.1f MiB" % (
        args.side, args.side, ", ".join("%s %s" % t for t in totals) or answer[:120], seconds, peak_mib))


if __name__ == "__main__":
    main()
