#!/usr/bin/env python3
"""Soaks one route service process with many mixed request lines.

  bench/soak.py [--requests 10000] [--build build] [--seed 11]

It starts <build>/trevassa-router on a scratch copy of the demo data set whose
storageconfig.txt names a second directory of damaged segment files (requests
with profile:forceSecondaryData=1 read those), and sends request lines drawn
from a fixed pool: routes with every parameter (two to four waypoints, via
points, straight legs, alternatives 0 to 3, no-go circles, polygons and
polylines, points of interest, headings, turn-instruction settings, profile
overrides), point information, round trips with a direction, routes over the
damaged files, malformed lines and bad profiles. Every request of the pool is
sent many times.

It checks that every line gets exactly one answer (its own id, in order, and
nothing more at the end), that a repeated request always gets the same answer,
and that resident memory after the first 1000 requests grows by less than 5 %.
The last line is the summary, e.g.

  soak: requests 10000, answered 10000, errors 2436, rss start 14.2 MiB, after 1000 41.0 MiB, end 41.3 MiB (+0.7 %), changed answers 0

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
from route_bench import REPO, lonlat, point_at_distance, random_point  # noqa: E402

PROFILES = ["profiles/car.vpf", "profiles/bike.vpf", "profiles/foot.vpf", "profiles/car-eco.vpf"]
# Memory may grow by this share after the first WARM_UP requests.
WARM_UP = 1000
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
    return pool


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

    def rss_kib(self):
        with open("/proc/%d/status" % self.process.pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
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
    rss_start = service.rss_kib()
    rss_warm = rss_start
    for n in range(1, count + 1):
        query = pool[rng.randrange(len(pool))]
        line = service.ask(n, query)
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
        if n == WARM_UP:
            rss_warm = service.rss_kib()
    rss_end = service.rss_kib()
    rest = service.finish()
    if rest:
        protocol.append((count + 1, "quit", rest[:200]))
    return answered, errors, rss_start, rss_warm, rss_end, changed, protocol


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(REPO, "build"), help="the build directory")
    parser.add_argument("--requests", type=int, default=10000, help="request lines to send")
    parser.add_argument("--seed", type=int, default=11, help="seed of the request pool and order")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    with tempfile.TemporaryDirectory(prefix="ferrow-soak-") as scratch:
        segments, bad_profiles = prepare_directories(args.build, scratch)
        pool = pool_of_requests(rng, bad_profiles)
        service = Service(os.path.join(args.build, "trevassa-router"), segments)
        answered, errors, rss_start, rss_warm, rss_end, changed, protocol = soak(service, pool, args.requests, rng)
    growth = (rss_end - rss_warm) / rss_warm if rss_warm else 0.0
    for n, query, line in protocol[:5]:
        print("  no proper answer to line %d (%r): %r" % (n, query[:120], line))
    for query in changed[:5]:
        print("  changed answer: %r" % query[:200])
    if args.requests > WARM_UP and growth >= MAX_GROWTH:
        print("  memory grew by %.1f %% after the first %d requests" % (100.0 * growth, WARM_UP))
    print("soak: requests %d, answered %d, errors %d, rss start %.1f MiB, after %d %.1f MiB, end %.1f MiB "
          "(%+.1f %%), changed answers %d" % (args.requests, answered, errors, rss_start / 1024.0, WARM_UP,
                                             rss_warm / 1024.0, rss_end / 1024.0, 100.0 * growth, len(changed)))
    ok = not protocol and not changed and answered == args.requests and (
        args.requests <= WARM_UP or growth < MAX_GROWTH)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
