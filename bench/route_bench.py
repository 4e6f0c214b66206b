#!/usr/bin/env python3
"""Runs the route service on the demo data set and measures it.

  bench/route_bench.py bench [--routes 120]   routes per second, median and 95th-percentile
                                              latency, peak memory, start-up time to "ready"

It starts <build>/trevassa-router <build>/demo/segments in the repository root (the
requests name the profiles as profiles/car.vpf etc.); bench/soak.py soaks the
service with mixed requests. Build first, e.g.

  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build --parallel 8

The requests are a fixed set: the same seed gives the same routes on every run.
"""
import argparse
import math
import os
import random
import statistics
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The demo town: centre 10.0 E, 47.52 N; streets from about 3.5 km west to 3.5 km
# east and from 3 km south to 3.5 km north of the centre.
CENTRE_LON = 10.0
CENTRE_LAT = 47.52
METRES_PER_DEGREE_LAT = 111200.0
METRES_PER_DEGREE_LON = METRES_PER_DEGREE_LAT * math.cos(math.radians(CENTRE_LAT))
PROFILES = ["profiles/car.vpf", "profiles/bike.vpf", "profiles/foot.vpf"]
# Route lengths in metres, by class: short, medium, long.
LENGTHS = [(300, 1200), (1200, 4000), (4000, 8000)]


def lonlat(x, y):
    return "%.6f,%.6f" % (CENTRE_LON + x / METRES_PER_DEGREE_LON, CENTRE_LAT + y / METRES_PER_DEGREE_LAT)


def inside(x, y):
    return -3500.0 <= x <= 3500.0 and -3000.0 <= y <= 3500.0


def random_point(rng):
    return rng.uniform(-3500.0, 3500.0), rng.uniform(-3000.0, 3500.0)


def point_at_distance(rng, x, y, low, high):
    while True:
        distance = rng.uniform(low, high)
        bearing = rng.uniform(0.0, 2.0 * math.pi)
        ex, ey = x + distance * math.sin(bearing), y + distance * math.cos(bearing)
        if inside(ex, ey):
            return ex, ey


def bench_routes(count, seed=42):
    """count routes with two waypoints, cycling through the profiles and length classes."""
    rng = random.Random(seed)
    queries = []
    for i in range(count):
        low, high = LENGTHS[i % len(LENGTHS)]
        x, y = random_point(rng)
        ex, ey = point_at_distance(rng, x, y, low, high)
        profile = PROFILES[(i // len(LENGTHS)) % len(PROFILES)]
        queries.append("profile=%s&lonlats=%s;%s" % (profile, lonlat(x, y), lonlat(ex, ey)))
    return queries


class Service:
    def __init__(self, router, segments):
        started = time.perf_counter()
        self.process = subprocess.Popen([router, segments], cwd=REPO, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True, encoding="utf-8")
        ready = self.process.stdout.readline()
        if ready != "ready\n":
            raise RuntimeError("the service did not start: %r" % ready)
        self.startup_seconds = time.perf_counter() - started
        self.next_id = 0
        self.largest_kib = 0

    def ask(self, query):
        self.next_id += 1
        started = time.perf_counter()
        self.process.stdin.write("%d\t%s\n" % (self.next_id, query))
        self.process.stdin.flush()
        line = self.process.stdout.readline()
        elapsed = time.perf_counter() - started
        ident, flag, text = line.rstrip("\n").split("\t", 2)
        if ident != str(self.next_id):
            raise RuntimeError("answer to request %s came for %d" % (ident, self.next_id))
        return flag == "1", text, elapsed

    def memory_kib(self):
        """(current, peak) resident memory of the process in KiB. Without /proc
        (macOS) ps gives the current value, and the peak is the largest seen."""
        status_path = "/proc/%d/status" % self.process.pid
        if not os.path.exists(status_path):
            current = int(subprocess.run(["ps", "-o", "rss=", "-p", str(self.process.pid)],
                                         capture_output=True, text=True, check=True).stdout)
            self.largest_kib = max(self.largest_kib, current)
            return current, self.largest_kib
        values = {}
        with open(status_path) as status:
            for line in status:
                key, _, value = line.partition(":")
                if key in ("VmRSS", "VmHWM"):
                    values[key] = int(value.split()[0])
        return values.get("VmRSS", 0), values.get("VmHWM", 0)

    def quit(self):
        self.process.stdin.write("quit\n")
        self.process.stdin.flush()
        return self.process.wait(timeout=30)


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(math.ceil(fraction * len(ordered))) - 1)]


def run_bench(service, count):
    queries = bench_routes(count)
    latencies = []
    failures = []
    started = time.perf_counter()
    for query in queries:
        ok, text, elapsed = service.ask(query)
        latencies.append(elapsed)
        if not ok:
            failures.append((query, text))
    total = time.perf_counter() - started
    _, peak = service.memory_kib()
    print("routes:             %d (%d failed)" % (len(queries), len(failures)))
    print("routes per second:  %.1f" % (len(queries) / total))
    print("median latency:     %.1f ms" % (1000.0 * statistics.median(latencies)))
    print("95th percentile:    %.1f ms" % (1000.0 * percentile(latencies, 0.95)))
    print("peak memory:        %.1f MiB" % (peak / 1024.0))
    print("start-up to ready:  %.1f ms" % (1000.0 * service.startup_seconds))
    for query, text in failures[:5]:
        print("  failed: %s -> %s" % (query, text))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=["bench"])
    parser.add_argument("--build", default=os.path.join(REPO, "build"), help="the build directory")
    parser.add_argument("--routes", type=int, default=120, help="routes of the benchmark")
    args = parser.parse_args()
    service = Service(os.path.join(args.build, "trevassa-router"), os.path.join(args.build, "demo", "segments"))
    try:
        status = run_bench(service, args.routes)
    finally:
        service.quit()
    return status


if __name__ == "__main__":
    sys.exit(main())
