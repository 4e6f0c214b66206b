#!/usr/bin/env python3
"""Soaks one route service process with many mixed request lines.

  bench/soak.py [--requests 10000] [--build build] [--binary <router>] [--seed 11]

It starts the service (<build>/trevassa-router, or --binary) on a scratch copy
of the demo data set (<build>/demo/segments) with the Gothenburg network's
segment file beside it (tests/service/golden/gothenburg/E10_N55.rd5), whose
storageconfig.txt names a second directory of damaged segment files (requests
with profile:forceSecondaryData=1 read those), and sends request lines drawn
from a fixed pool: routes in the demo town with every parameter (two to four
waypoints, via points, straight legs, alternatives 0 to 3, no-go circles,
polygons and polylines, points of interest, headings, turn-instruction
settings, profile overrides), routes in Gothenburg between positions on its
ways with every profile and overrides, point information (modes 2 and 3, in
Gothenburg also at motorway and trunk positions), round trips with a
direction, routes over the damaged files, malformed lines and bad profiles.
Every request of the pool is sent many times.

It checks that every line gets exactly one answer (its own id, in order, and
nothing more at the end), that a repeated request always gets the same answer,
and that the peak resident memory of the second half of the run exceeds the
first half's by less than 5 %. The first half's peak is the kernel's
high-water mark (VmHWM) at its last answer; the second half's is the highest
resident memory sampled after each of its answers, or the high-water mark at
the end when that rose during the second half. The last line is the summary,
e.g.

  soak: requests 10000, answered 10000, errors 1588, rss start 2.7 MiB, peak first half 85.4 MiB,
  second half 84.0 MiB (-1.6 %), changed answers 0

Build first (README.md); the exit code is 0 when every check holds.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from history_check import GOLDEN, MAJOR, Network, way_positions  # noqa: E402
from route_bench import REPO, lonlat, point_at_distance, random_point  # noqa: E402

PROFILES = ["profiles/car.vpf", "profiles/bike.vpf", "profiles/foot.vpf", "profiles/car-eco.vpf"]
# The peak memory of the second half may exceed the first half's by less than this share.
MAX_GROWTH = 0.05
# Bytes that the damaged copies change: in E5_N45 bytes of its tiles (the
# tile index ends near byte 25800), in E10_N45 also one of its tile index.
DAMAGED_BYTES = {"E5_N45.rd5": [26500, 28000, 30000, 32000], "E10_N45.rd5": [5000, 27000, 31000]}


def damage_segments(source, target):
    """Copies of the demo files with bytes changed."""
    os.makedirs(target)
    for name, positions in DAMAGED_BYTES.items():
        with open(os.path.join(source, name), "rb") as f:
            data = bytearray(f.read())
        for position in positions:
            data[position] ^= 0x5A
        with open(os.path.join(target, name), "wb") as f:
            f.write(data)


def prepare_directories(build, scratch):
    """The segment directory (demo files and a storage configuration naming the
    damaged copies) and a profile directory with broken profiles."""
    demo = os.path.join(build, "demo", "segments")
    segments = os.path.join(scratch, "segments")
    shutil.copytree(demo, segments)
    shutil.copy(os.path.join(GOLDEN, "gothenburg", "E10_N55.rd5"), segments)
    damage_segments(demo, os.path.join(scratch, "damaged"))
    with open(os.path.join(segments, "storageconfig.txt"), "w") as f:
        f.write("# the damaged copies\nsecondary_segment_dir=../damaged\n")
    profiles = os.path.join(scratch, "profiles")
    os.makedirs(profiles)
    shutil.copy(os.path.join(REPO, "profiles", "lookups.dat"), profiles)
    broken = {
        "syntax.vpf": "---context:global\nassign x 1\n---context:way\nassign costfactor switch\n",
        "empty.vpf": "",
        "unknown-tag.vpf": "---context:global\n---context:way\nassign costfactor switch nosuchtag=yes 1 2\n"
                           "---context:node\nassign initialcost 0\n",
        "no-way.vpf": "---context:global\nassign validForBikes 1\n",
        "binary.vpf": "\x00\x01\xff---context:way\n\xfe",
    }
    for name, text in broken.items():
        with open(os.path.join(profiles, name), "w", encoding="latin-1") as f:
            f.write(text)
    return segments, [os.path.join(profiles, name) for name in sorted(broken)] + [
        os.path.join(profiles, "missing.vpf")]


def route_points(rng, count):
    x, y = random_point(rng)
    points = [(x, y)]
    for _ in range(count - 1):
        points.append(point_at_distance(rng, points[-1][0], points[-1][1], 300.0, 3000.0))
    return points


def route_request(rng, points=None):
    """A valid route with a random choice of the optional parameters."""
    profile = rng.choice(PROFILES)
    points = points or route_points(rng, rng.choice([2, 2, 2, 3, 4]))
    texts = [lonlat(x, y) for x, y in points]
    # Via points plain, marked, named, or starting a straight leg.
    for i in range(len(texts) - 1):
        texts[i] += rng.choice(["", "", ",d"] if i == 0 else ["", ",m", ",via%d" % i, ",d"])
    params = ["profile=" + profile, "lonlats=" + rng.choice([";", "|"]).join(texts)]
    mx, my = (points[0][0] + points[-1][0]) / 2.0, (points[0][1] + points[-1][1]) / 2.0
    extras = {
        "alternativeidx": lambda: "alternativeidx=%d" % rng.randint(0, 3),
        "nogos": lambda: "nogos=%s,%d" % (lonlat(mx, my), rng.randint(20, 200)) + (
            "|%s,50,%d" % (lonlat(mx + 300, my), rng.randint(1, 20)) if rng.random() < 0.5 else ""),
        "nogoLons": lambda: "nogoLons=%s&nogoLats=%s&nogoRadi=%d" % (
            lonlat(mx, my).split(",")[0], lonlat(mx, my).split(",")[1], rng.randint(20, 150)),
        "polygons": lambda: "polygons=%s,%s,%s" % (lonlat(mx - 80, my - 80), lonlat(mx + 80, my - 80),
                                                  lonlat(mx, my + 80)),
        "polylines": lambda: "polylines=%s,%s,%d" % (lonlat(mx - 150, my), lonlat(mx + 150, my), rng.randint(1, 50)),
        "pois": lambda: "pois=%s,fountain|%s,bench" % (lonlat(mx, my), lonlat(mx + 50, my + 50)),
        "straight": lambda: "straight=%d" % rng.randint(0, len(points) - 1),
        "heading": lambda: "heading=%d" % rng.randint(0, 359),
        "turnInstructionMode": lambda: "turnInstructionMode=%d" % rng.randint(0, 9),
        "timode": lambda: "timode=%d" % rng.randint(0, 3),
        "turnInstructionFormat": lambda: "turnInstructionFormat=" + rng.choice(["osmand", "locus", "gpx"]),
        "exportWaypoints": lambda: "exportWaypoints=1",
        "exportCorrectedWaypoints": lambda: "exportCorrectedWaypoints=1",
        "override": lambda: rng.choice(["profile:avoid_unpaved=1", "profile:turn_cost=50", "profile:avoid_toll=1",
                                         "profile:uphill_cost=0", "profile:allow_steps=0", "profile:avoid_motorways=1"]),
    }
    for key in rng.sample(sorted(extras), rng.randint(0, 4)):
        params.append(extras[key]())
    return "&".join(params)


def city_requests(rng):
    """Requests in Gothenburg at positions on its ways."""
    city = Network("gothenburg", rng, way_positions(os.path.join(GOLDEN, "gothenburg.answers")), MAJOR)
    profiles = PROFILES + ["profiles/shortest.vpf"]
    overrides = ["", "", "", "&profile:avoid_motorways=1", "&profile:check_start_way=0", "&profile:turn_cost=50",
                 "&profile:allow_steps=0", "&profile:vmax=70", "&profile:pass1coefficient=-1",
                 "&profile:avoid_unpaved=1", "&profile:allow_pushing=0"]
    text = Network.text
    pool = []
    for _ in range(60):
        ends = [city.major_point() if rng.random() < 0.3 else city.point()]
        for _ in range(rng.choice([1, 1, 2])):
            ends.append(city.near(ends[-1], 500, 4000))
        query = "profile=%s&lonlats=%s" % (rng.choice(profiles), ";".join(text(p) for p in ends))
        middle = ((ends[0][0] + ends[-1][0]) // 2, (ends[0][1] + ends[-1][1]) // 2)
        query += rng.choice(["", "", "&alternativeidx=%d" % rng.randint(1, 3), "&nogos=%s,%d" % (
            text(middle), rng.randint(50, 300)), "&heading=%d" % rng.randrange(360)])
        pool.append(query + rng.choice(overrides))
    for _ in range(30):
        where = city.major_point() if rng.random() < 0.5 else city.point()
        pool.append("profile=%s&lonlats=%s&engineMode=%d%s" % (
            rng.choice(profiles), text(where), rng.choice([2, 3]), rng.choice(overrides)))
    for _ in range(10):
        pool.append("profile=%s&lonlats=%s&engineMode=4&direction=%d&roundTripDistance=%d&roundTripPoints=%d" % (
            rng.choice(profiles), text(city.point()), rng.randrange(360), rng.randint(400, 2000), rng.randint(3, 8)))
    return pool


def pool_of_requests(rng, bad_profiles):
    pool = []
    for _ in range(160):
        pool.append(route_request(rng))
    for _ in range(30):
        x, y = random_point(rng)
        pool.append("profile=%s&lonlats=%s&engineMode=%d" % (rng.choice(PROFILES), lonlat(x, y), rng.choice([2, 3])))
    for _ in range(30):
        x, y = random_point(rng)
        query = "profile=%s&lonlats=%s&engineMode=4&direction=%d&roundTripDistance=%d&roundTripPoints=%d" % (
            rng.choice(PROFILES[:3]), lonlat(x, y), rng.randint(0, 359), rng.randint(300, 2500), rng.randint(3, 8))
        if rng.random() < 0.3:
            query += "&allowSamewayback=1"
        pool.append(query)
    for _ in range(30):
        pool.append(route_request(rng) + "&profile:forceSecondaryData=1")
    x, y = random_point(rng)
    here = lonlat(x, y)
    malformed = [
        "", "profile", "lonlats=%s;%s" % (here, here), "profile=profiles/car.vpf",
        "profile=profiles/car.vpf&lonlats=%s" % here, "profile=profiles/car.vpf&lonlats=abc;def",
        "profile=profiles/car.vpf&lonlats=200,100;10,47.5", "profile=profiles/car.vpf&lonlats=%s;%s&engineMode=x" % (
            here, here), "profile=profiles/car.vpf&lonlats=%s;%s&engineMode=7" % (here, here),
        "profile=profiles/bike.vpf&lonlats=%s&engineMode=4&direction=90&roundTripDistance=999999999" % here,
        "profile=profiles/car.vpf&lonlats=%s;%s&alternativeidx=-1" % (here, here),
        "profile=profiles/car.vpf&lonlats=%s;%s&nogos=1,2" % (here, here),
        "profile=profiles/car.vpf&lonlats=%s;%s&polygons=1,2,3" % (here, here),
        "profile=profiles/car.vpf&lonlats=%s;%s&straight=-2" % (here, here),
        "profile=profiles/car.vpf&lonlats=%s;%s&profile:turn_cost=abc" % (here, here),
        "profile=profiles/car.vpf%zz&lonlats=1,2;3,4", "profile=profiles/car.vpf&lonlats=1,2;3,4%",
        "profile=profiles/car.vpf&lonlats=%%F0%%9F%%9A%%B2%s;%s" % (here, here),
        "profile=../../../etc/passwd&lonlats=%s;%s" % (here, here),
        "profile=profiles/car.vpf&lonlats=" + ";".join([here] * 300),
        "\x01\x02\x7f\xff\xfe garbage \ttab\tand more",
        "profile=profiles/car.vpf&lonlats=%s;%s\r" % (here, here),
    ]
    for _ in range(8):
        malformed.append("".join(chr(rng.choice([rng.randint(32, 126), rng.randint(128, 255), 9, 13]))
                                 for _ in range(rng.randint(1, 120))))
    pool.extend(malformed)
    for profile in bad_profiles:
        pool.append("profile=%s&%s" % (profile, route_request(rng).split("&", 1)[1]))
    return pool + city_requests(rng)


class Service:
    """The service process, spoken to in bytes: request lines may hold any byte but LF."""

    def __init__(self, router, segments):
        self.process = subprocess.Popen([router, segments], cwd=REPO, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE)
        ready = self.process.stdout.readline()
        if ready != b"ready\n":
            raise RuntimeError("the service did not start: %r" % ready)

    def ask(self, ident, query):
        self.process.stdin.write(b"%d\t%s\n" % (ident, query.encode("latin-1")))
        self.process.stdin.flush()
        return self.process.stdout.readline()

    def memory_kib(self, field):
        """A line of the process's status: "VmRSS" resident memory now, "VmHWM" its peak so far."""
        with open("/proc/%d/status" % self.process.pid) as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
        return 0

    def finish(self):
        """Ends the service; whatever it printed after the last answer."""
        rest, _ = self.process.communicate(b"quit\n", timeout=60)
        return rest


def normalised(text):
    # Straight-line legs are numbered process-wide: the numbers keep growing.
    return re.sub(rb"direct_segment=\d+", b"direct_segment=#", text)


def soak(service, pool, count, rng):
    first = {}
    changed = []
    protocol = []
    errors = 0
    answered = 0
    rss_start = service.memory_kib("VmRSS")
    half = count // 2
    peak_first = peak_second = 0
    for n in range(1, count + 1):
        query = pool[rng.randrange(len(pool))]
        line = service.ask(n, query)
        if n == half:
            peak_first = service.memory_kib("VmHWM")
        elif n > half:
            peak_second = max(peak_second, service.memory_kib("VmRSS"))
        parts = line.rstrip(b"\n").split(b"\t", 2)
        if not line.endswith(b"\n") or len(parts) != 3 or parts[0] != b"%d" % n or parts[1] not in (b"0", b"1"):
            protocol.append((n, query, line[:200]))
            if not line:
                break
            continue
        answered += 1
        if parts[1] == b"0":
            errors += 1
        answer = (parts[1], normalised(parts[2]))
        previous = first.setdefault(query, answer)
        if previous != answer:
            changed.append(query)
    peak_end = service.memory_kib("VmHWM")
    if peak_end > peak_first:
        # The high-water mark rose in the second half: that is its peak.
        peak_second = max(peak_second, peak_end)
    rest = service.finish()
    if rest:
        protocol.append((count + 1, "quit", rest[:200]))
    return answered, errors, rss_start, peak_first, peak_second, changed, protocol


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(REPO, "build"),
                        help="the build directory: the demo data and, by default, the service")
    parser.add_argument("--binary", help="the service to soak (default <build>/trevassa-router)")
    parser.add_argument("--requests", type=int, default=10000, help="request lines to send")
    parser.add_argument("--seed", type=int, default=11, help="seed of the request pool and order")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    router = os.path.abspath(args.binary or os.path.join(args.build, "trevassa-router"))
    with tempfile.TemporaryDirectory(prefix="ferrow-soak-") as scratch:
        segments, bad_profiles = prepare_directories(args.build, scratch)
        pool = pool_of_requests(rng, bad_profiles)
        service = Service(router, segments)
        answered, errors, rss_start, peak_first, peak_second, changed, protocol = soak(
            service, pool, args.requests, rng)
    growth = (peak_second - peak_first) / peak_first if peak_first else 0.0
    for n, query, line in protocol[:5]:
        print("  no proper answer to line %d (%r): %r" % (n, query[:120], line))
    for query in sorted(set(changed))[:5]:
        print("  changed answer: %r" % query[:200])
    if growth >= MAX_GROWTH:
        print("  the peak resident memory of the second half exceeds the first half's by %.1f %% (limit %.0f %%)" % (
            100.0 * growth, 100.0 * MAX_GROWTH))
    print("soak: requests %d, answered %d, errors %d, rss start %.1f MiB, peak first half %.1f MiB, "
          "second half %.1f MiB (%+.1f %%), changed answers %d" % (
              args.requests, answered, errors, rss_start / 1024.0, peak_first / 1024.0, peak_second / 1024.0,
              100.0 * growth, len(changed)))
    ok = not protocol and not changed and answered == args.requests and growth < MAX_GROWTH
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
