#!/usr/bin/env python3
"""Writes the golden answer corpus: fixed request lines over the demo town and a
real city network, and the answers today's build gives them.

  tests/service/golden/make_corpus.py [--build build]

writes <set>.requests (the request lines, in the order they must be asked: the
numbers of straight-line legs count on over the life of the process) and
<set>.answers (the answer lines) for the sets "demo" (build/demo/segments) and
"gothenburg" (tests/service/golden/gothenburg, a segment file written by
bench/realdata from OpenStreetMap data, ODbL). GoldenAnswersTest asks the same
requests of the service and expects the same answers, byte for byte.

Run it only when answers change on purpose, and name the changed entries.
"""
import argparse
import math
import os
import random
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))
PROFILES = ["car", "car-eco", "bike", "foot", "shortest"]


class Area:
    """Random positions in a rectangle around a centre, in metres."""

    def __init__(self, rng, lon, lat, west, east, south, north):
        self.rng, self.lon, self.lat = rng, lon, lat
        self.west, self.east, self.south, self.north = west, east, south, north
        self.per_lat = 111200.0
        self.per_lon = self.per_lat * math.cos(math.radians(lat))

    def text(self, x, y):
        return "%.6f,%.6f" % (self.lon + x / self.per_lon, self.lat + y / self.per_lat)

    def inside(self, x, y):
        return self.west <= x <= self.east and self.south <= y <= self.north

    def point(self):
        return self.rng.uniform(self.west, self.east), self.rng.uniform(self.south, self.north)

    def near(self, x, y, low, high):
        while True:
            d, b = self.rng.uniform(low, high), self.rng.uniform(0.0, 2.0 * math.pi)
            ex, ey = x + d * math.sin(b), y + d * math.cos(b)
            if self.inside(ex, ey):
                return ex, ey


def requests_for(area, lengths, count):
    """count requests cycling through the profiles and the kinds of request."""
    rng = area.rng
    kinds = ["plain", "via", "straight", "straightParam", "nogo", "nogoWeighted", "polygon", "polyline",
             "alternative", "roundTrip", "outAndBack", "info", "pois", "heading", "override", "pass1alone"]
    queries = []
    for i in range(count):
        profile = "profile=profiles/%s.vpf" % PROFILES[i % len(PROFILES)]
        kind = kinds[(i // len(PROFILES)) % len(kinds)]
        low, high = lengths[i % len(lengths)]
        x, y = area.point()
        ex, ey = area.near(x, y, low, high)
        a, b = area.text(x, y), area.text(ex, ey)
        mid = area.text((x + ex) / 2.0, (y + ey) / 2.0)
        base = "%s&lonlats=%s;%s" % (profile, a, b)
        if kind == "plain":
            queries.append(base)
        elif kind == "via":
            vx, vy = area.near(x, y, low / 2.0, high / 2.0)
            queries.append("%s&lonlats=%s;%s;%s" % (profile, a, area.text(vx, vy), b))
        elif kind == "straight":
            vx, vy = area.near(x, y, 100.0, 400.0)
            queries.append("%s&lonlats=%s;%s,d;%s" % (profile, a, area.text(vx, vy), b))
        elif kind == "straightParam":
            vx, vy = area.near(x, y, 100.0, 400.0)
            queries.append("%s&lonlats=%s;%s;%s&straight=0" % (profile, a, area.text(vx, vy), b))
        elif kind == "nogo":
            queries.append(base + "&nogos=%s,%d" % (mid, rng.choice([30, 80, 150])))
        elif kind == "nogoWeighted":
            queries.append(base + "&nogos=%s,%d,%s" % (mid, rng.choice([50, 120]), rng.choice(["0.5", "2", "10"])))
        elif kind == "polygon":
            cx, cy = (x + ex) / 2.0, (y + ey) / 2.0
            ring = [area.text(cx + dx, cy + dy) for dx, dy in ((-60, -60), (60, -60), (60, 60), (-60, 60))]
            queries.append(base + "&polygons=" + ",".join(ring))
        elif kind == "polyline":
            cx, cy = (x + ex) / 2.0, (y + ey) / 2.0
            line = [area.text(cx + dx, cy + dy) for dx, dy in ((-150, 0), (0, 40), (150, 0))]
            queries.append(base + "&polylines=" + ",".join(line) + ",%s" % rng.choice(["100", "1000"]))
        elif kind == "alternative":
            queries.append(base + "&alternativeidx=%d" % (i % 4))
        elif kind == "roundTrip":
            queries.append("%s&lonlats=%s&engineMode=4&direction=%d&roundTripDistance=%d&roundTripPoints=%d"
                           % (profile, a, rng.randrange(360), rng.choice([400, 800, 1500]), rng.choice([3, 5, 8])))
        elif kind == "outAndBack":
            queries.append("%s&lonlats=%s&engineMode=4&heading=%d&roundTripDistance=%d&allowSamewayback=1"
                           % (profile, a, rng.randrange(360), rng.choice([500, 1000])))
        elif kind == "info":
            queries.append("%s&lonlats=%s&engineMode=%d" % (profile, a, 2 + i % 2))
        elif kind == "pois":
            queries.append(base + "&pois=%s,Cafe|%s,Bench" % (mid, a))
        elif kind == "heading":
            queries.append(base + "&heading=%d" % rng.randrange(360))
        elif kind == "override":
            overrides = {"car": "profile:avoid_unpaved=0&profile:avoid_motorways=1",
                         "car-eco": "profile:vmax=70",
                         "bike": "profile:prefer_cycle_routes=0&profile:consider_elevation=1",
                         "foot": "profile:allow_steps=0",
                         "shortest": "profile:pass2coefficient=1"}
            queries.append(base + "&" + overrides[PROFILES[i % len(PROFILES)]])
        else:
            queries.append(base + "&profile:pass1coefficient=-1")
    return queries


ERRORS = [
    "lonlats=10.0,47.52;10.01,47.52",
    "profile=profiles/car.vpf",
    "profile=profiles/car.vpf&lonlats=10.0,47.52",
    "profile=profiles/car.vpf&lonlats=10.0,47.52;10.01,47.52&engineMode=1",
    "profile=profiles/car.vpf&lonlats=10.0,47.52;10.01,north",
    "profile=profiles/absent.vpf&lonlats=10.0,47.52;10.01,47.52",
    "profile=profiles/car.vpf&lonlats=10.0,47.52;10.01,47.52&straight=-1",
    "profile=profiles/car.vpf&lonlats=30.0,47.52;10.01,47.52",
]


# Point information where the profile lets no route start (motorway and trunk
# ways), each before a route from the same point: the route must not see that
# point information lifted the rule for its own run.
NO_START_WAYS = [
    "profile=profiles/car.vpf&lonlats=11.995177,57.712697&engineMode=3",
    "profile=profiles/car.vpf&lonlats=11.995177,57.712697;11.990,57.700",
    "profile=profiles/car.vpf&lonlats=11.980247,57.725551&engineMode=2",
    "profile=profiles/car.vpf&lonlats=11.980247,57.725551;11.990356,57.706595",
    "profile=profiles/car.vpf&lonlats=11.966,57.75&engineMode=2",
    "profile=profiles/car.vpf&lonlats=11.966,57.75;11.99,57.73",
    "profile=profiles/car.vpf&lonlats=11.958,57.723&engineMode=3",
    "profile=profiles/car.vpf&lonlats=11.962,57.705&engineMode=3&profile:avoid_motorways=1",
    "profile=profiles/car.vpf&lonlats=11.962,57.705;11.975,57.69",
    "profile=profiles/bike.vpf&lonlats=11.93,57.699&engineMode=3",
    "profile=profiles/bike.vpf&lonlats=11.93,57.699;11.95,57.69",
    "profile=profiles/bike.vpf&lonlats=11.982,57.717&engineMode=2",
    "profile=profiles/foot.vpf&lonlats=11.966,57.75&engineMode=2",
]


def corpus_sets():
    demo = Area(random.Random(20261209), 10.0, 47.52, -3500.0, 3500.0, -3000.0, 3500.0)
    demo_requests = requests_for(demo, [(300, 1200), (1200, 4000), (4000, 8000)], 240) + ERRORS
    # Gothenburg: about 11.90 to 12.06 E and 57.64 to 57.74 N.
    city = Area(random.Random(57700), 11.975, 57.69, -4500.0, 4500.0, -5000.0, 5000.0)
    city_requests = requests_for(city, [(500, 2000), (1500, 4000), (3000, 6000)], 160) + NO_START_WAYS
    return [("demo", os.path.join("build", "demo", "segments"), demo_requests),
            ("gothenburg", os.path.join("tests", "service", "golden", "gothenburg"), city_requests)]


def ask_all(router, segments, queries):
    lines = "".join("%d\t%s\n" % (i + 1, q) for i, q in enumerate(queries)) + "quit\n"
    done = subprocess.run([router, segments], cwd=REPO, input=lines.encode(), capture_output=True, check=True)
    out = done.stdout.decode("utf-8", "surrogateescape").split("\n")
    if out[0] != "ready":
        sys.exit("the service did not start: %r" % out[0])
    answers = out[1:-1]
    if len(answers) != len(queries):
        sys.exit("%d answers to %d requests" % (len(answers), len(queries)))
    return answers


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    args = parser.parse_args()
    router = os.path.join(REPO, args.build, "trevassa-router")
    for name, segments, queries in corpus_sets():
        if name == "demo":
            segments = os.path.join(args.build, "demo", "segments")
        answers = ask_all(router, segments, queries)
        with open(os.path.join(HERE, name + ".requests"), "w", encoding="utf-8") as f:
            f.writelines("%d\t%s\n" % (i + 1, q) for i, q in enumerate(queries))
        with open(os.path.join(HERE, name + ".answers"), "w", encoding="utf-8", errors="surrogateescape") as f:
            f.writelines(a + "\n" for a in answers)
        routes = sum(1 for a in answers if a.split("\t")[1] == "1")
        print("%s: %d requests, %d routes, %d errors" % (name, len(answers), routes, len(answers) - routes))


if __name__ == "__main__":
    main()
