#!/usr/bin/env python3
"""Checks that the service's answers do not depend on what it answered before.

  bench/history_check.py [--build build] [--binary <router>] [--requests 720] [--seed 18]
                         [--jobs 4] [--show 25]

The service keeps decoded tiles, parsed profiles and pooled memory across
requests. An answer must still equal a fresh process's answer on the same
files. The check draws requests over the demo town (<build>/demo/segments) and
the Gothenburg network (tests/service/golden/gothenburg), half each, with a
fixed seed, from a pool of positions on their ways (points of the routes in
the golden answers, tests/service/golden/*.answers), so that requests meet at
the same places: every profile; routes, via points, straight legs,
alternatives, no-go circles, polygons and polylines, round trips and
out-and-back trips with a direction, points of interest, start headings, point
information (modes 2 and 3, also at motorway and trunk positions), routes
starting or ending there, profile overrides that change which ways a profile
may use or start on and ones that only change costs, pass 1 alone, and a few
malformed requests. All segment files lie in one scratch directory.

It asks each request of a fresh process (--jobs processes at a time), then all
of them of one process in two shuffled orders, and compares the answers byte
for byte. Only the numbers of straight-line legs ("direct_segment=<n>", counted
over the life of the process) are normalised; round trips carry a direction,
so no random one appears, and no file changes, so the profile cache cannot
show.

Then fixed cases, each in one process, every answer checked against a fresh
process's on the files as they are at that moment: sequences at motorway
positions; a profile, and the lookup table, replaced with the modification
time kept after another profile took the profile cache's slot (in a scratch
copy of profiles/); a profile replaced with a new time while it holds the
slot; segment files replaced between requests (moved over the old one, or
overwritten in place, then the original put back), by variants that
<build>/bench/realdata/realdata_convert writes from a street grid drawn here,
each asked at once after the change and again once the file has settled.
A case whose file change changes no fresh answer fails too: it would prove
nothing.

The last line is the summary; the exit code is 0 when nothing differs.
"""
import argparse
import array
import concurrent.futures
import json
import math
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GOLDEN = os.path.join(REPO, "tests", "service", "golden")
PROFILES = ["car", "car-eco", "bike", "foot", "shortest"]
MAJOR = {"motorway", "motorway_link", "trunk", "trunk_link"}
# The demo town has no motorway: its major roads stand in.
DEMO_MAJOR = {"primary", "secondary"}
# Positions drawn per network: all of them, and on major roads.
POOL = 150
MAJOR_POOL = 24

# Overrides that change which ways a profile may use or start on, and ones that
# only change costs or estimates. Unknown names are ignored by the service.
ACCESS_OVERRIDES = {
    "car": ["avoid_motorways=1", "check_start_way=0", "avoid_unpaved=0", "avoid_ferries=1&profile:avoid_toll=1"],
    "car-eco": ["avoid_motorways=1", "check_start_way=0", "avoid_unpaved=0"],
    "bike": ["allow_steps=0", "allow_pushing=0", "check_start_way=0", "avoid_unpaved=1"],
    "foot": ["allow_steps=0", "allow_alpine_paths=1", "check_start_way=0", "avoid_unpaved=1"],
    "shortest": ["validForFoot=0", "check_start_way=0"],
}
COST_OVERRIDES = {
    "car": ["turn_cost=50", "turn_cost=400", "pass1coefficient=2.5", "maxSpeed=90", "avoid_factor=2"],
    "car-eco": ["vmax=70", "vmax=120", "totalweight=2500", "pass1coefficient=1"],
    "bike": ["turn_cost=0", "uphill_cost=0", "cycle_route_factor=1", "prefer_cycle_routes=0", "maxSpeed=25"],
    "foot": ["uphill_cost=0", "uphill_cost=40", "maxSpeed=4", "downhill_cost=10"],
    "shortest": ["pass2coefficient=1", "pass1coefficient=3"],
}


def normalised(text):
    # Straight-line legs are numbered process-wide: the numbers keep growing.
    return re.sub(rb"direct_segment=\d+", b"direct_segment=#", text)


# --- positions and requests -----------------------------------------------------


def way_positions(answers_path):
    """Points inside the stretches of the golden answers' routes, with the
    highway value of their way: {(lon, lat) in micro-degrees: highway}."""
    positions = {}
    with open(answers_path, encoding="utf-8", errors="surrogateescape") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t", 2)
            if len(parts) < 3 or parts[1] != "1":
                continue
            for feature in json.loads(parts[2])["features"]:
                keys = [(round(c[0] * 1e6), round(c[1] * 1e6)) for c in feature["geometry"]["coordinates"]]
                start = 0
                for row in feature["properties"].get("messages", [])[1:]:
                    try:
                        end = keys.index((int(row[0]), int(row[1])), start)
                    except ValueError:
                        continue
                    highway = [t[8:] for t in row[9].split() if t.startswith("highway=")]
                    for key in keys[start + 1:end]:
                        positions.setdefault(key, highway[0] if highway else "")
                    start = end
    return positions


class Network:
    """Positions on the ways of one network, drawn with a fixed seed."""

    def __init__(self, name, rng, positions, major):
        self.name, self.rng = name, rng
        # Few positions, each in several requests: what one request leaves in the
        # process meets the others at the same place.
        self.points = rng.sample(sorted(positions), POOL)
        self.major = rng.sample(sorted(p for p, highway in positions.items() if highway in major), MAJOR_POOL)

    @staticmethod
    def text(p):
        return "%.6f,%.6f" % (p[0] / 1e6, p[1] / 1e6)

    @staticmethod
    def metres(a, b):
        dx = (a[0] - b[0]) * 0.1112 * math.cos(math.radians(a[1] / 1e6))
        return math.hypot(dx, (a[1] - b[1]) * 0.1112)

    @staticmethod
    def offset(p, east, north):
        return (p[0] + round(east / (0.1112 * math.cos(math.radians(p[1] / 1e6)))), p[1] + round(north / 0.1112))

    def point(self):
        return self.rng.choice(self.points)

    def major_point(self):
        return self.rng.choice(self.major)

    def near(self, p, low, high):
        """A position low to high metres from p (the nearest try when none is)."""
        best = None
        for _ in range(300):
            q = self.rng.choice(self.points)
            d = self.metres(p, q)
            if low <= d <= high:
                return q
            if best is None or abs(d - (low + high) / 2) < abs(self.metres(p, best) - (low + high) / 2):
                best = q
        return best


def route_kinds():
    """name -> function(net, profile) giving a query without the profile."""

    def pair(net, low=400, high=4000, start=None):
        a = start or net.point()
        return a, net.near(a, low, high)

    def lonlats(*points):
        return "lonlats=" + ";".join(Network.text(p) for p in points)

    def mid(a, b):
        return ((a[0] + b[0]) // 2, (a[1] + b[1]) // 2)

    def ring(centre, half):
        corners = [(-half, -half), (half, -half), (half, half), (-half, half)]
        return ",".join(Network.text(Network.offset(centre, e, n)) for e, n in corners)

    def plain(net, _):
        return lonlats(*pair(net))

    def long(net, _):
        return lonlats(*pair(net, 4000, 9000))

    def via(net, _):
        a, b = pair(net, 1000, 5000)
        v = net.near(mid(a, b), 100, 1500)
        marker = net.rng.choice(["", ",m", ",via1"])
        return "lonlats=%s;%s%s;%s" % (net.text(a), net.text(v), marker, net.text(b))

    def via4(net, _):
        a = net.point()
        b = net.near(a, 500, 2000)
        c = net.near(b, 500, 2000)
        d = net.near(c, 500, 2000)
        return lonlats(a, b, c, d)

    def straight(net, _):
        a, b = pair(net, 1000, 5000)
        v = net.near(a, 100, 600)
        return "lonlats=%s;%s,d;%s" % (net.text(a), net.text(v), net.text(b))

    def straight_param(net, _):
        a, b = pair(net, 1000, 5000)
        v = net.near(b, 100, 600)
        return lonlats(a, v, b) + "&straight=%d" % net.rng.randint(0, 1)

    def nogo(net, _):
        a, b = pair(net, 800, 5000)
        return lonlats(a, b) + "&nogos=%s,%d" % (net.text(mid(a, b)), net.rng.choice([30, 80, 150, 300]))

    def nogo_weighted(net, _):
        a, b = pair(net, 800, 5000)
        m = mid(a, b)
        return lonlats(a, b) + "&nogos=%s,%d,%s|%s,60" % (net.text(m), net.rng.choice([50, 120]), net.rng.choice(
            ["0.5", "2", "10"]), net.text(Network.offset(m, 300, -200)))

    def polygon(net, _):
        a, b = pair(net, 800, 5000)
        return lonlats(a, b) + "&polygons=" + ring(mid(a, b), net.rng.choice([60, 150]))

    def polyline(net, _):
        a, b = pair(net, 800, 5000)
        m = mid(a, b)
        line = [Network.offset(m, e, n) for e, n in ((-200, 0), (0, 50), (200, 0))]
        return lonlats(a, b) + "&polylines=%s,%s" % (",".join(net.text(p) for p in line), net.rng.choice(
            ["1", "100", "1000"]))

    def alternative(net, _):
        return lonlats(*pair(net, 800, 5000)) + "&alternativeidx=%d" % net.rng.randint(1, 3)

    def round_trip(net, _):
        return lonlats(net.point()) + "&engineMode=4&direction=%d&roundTripDistance=%d&roundTripPoints=%d" % (
            net.rng.randrange(360), net.rng.choice([400, 800, 1500]), net.rng.choice([3, 5, 8]))

    def out_and_back(net, _):
        return lonlats(net.point()) + "&engineMode=4&direction=%d&roundTripDistance=%d&allowSamewayback=1" % (
            net.rng.randrange(360), net.rng.choice([500, 1000]))

    def info(net, _):
        return lonlats(net.point()) + "&engineMode=%d" % net.rng.choice([2, 3])

    def info_major2(net, _):
        return lonlats(net.major_point()) + "&engineMode=2"

    def info_major3(net, _):
        return lonlats(net.major_point()) + "&engineMode=3"

    def info_major_override(net, profile):
        return lonlats(net.major_point()) + "&engineMode=%d&profile:%s" % (
            net.rng.choice([2, 3]), net.rng.choice(ACCESS_OVERRIDES[profile]))

    def from_major(net, _):
        return lonlats(*pair(net, 500, 4000, net.major_point()))

    def from_major_override(net, profile):
        return from_major(net, profile) + "&profile:" + net.rng.choice(ACCESS_OVERRIDES[profile])

    def to_major(net, _):
        a, b = pair(net, 500, 4000, net.major_point())
        return lonlats(b, a)

    def access(net, profile):
        return lonlats(*pair(net)) + "&profile:" + net.rng.choice(ACCESS_OVERRIDES[profile])

    def cost(net, profile):
        return lonlats(*pair(net)) + "&profile:" + net.rng.choice(COST_OVERRIDES[profile])

    def pass1_alone(net, _):
        return lonlats(*pair(net)) + "&profile:pass1coefficient=-1"

    def pois(net, _):
        a, b = pair(net)
        return lonlats(a, b) + "&pois=%s,Cafe|%s,Bench" % (net.text(mid(a, b)), net.text(a))

    def heading(net, _):
        return lonlats(*pair(net)) + "&heading=%d" % net.rng.randrange(360)

    def mixed(net, profile):
        return "%s&profile:%s&profile:%s" % (nogo(net, profile), net.rng.choice(ACCESS_OVERRIDES[profile]),
                                             net.rng.choice(COST_OVERRIDES[profile]))

    return [("plain", plain), ("long", long), ("via", via), ("via4", via4), ("straight-leg", straight),
            ("straight-param", straight_param), ("nogo", nogo), ("nogo-weighted", nogo_weighted),
            ("polygon", polygon), ("polyline", polyline), ("alternative", alternative),
            ("round-trip", round_trip), ("out-and-back", out_and_back), ("info", info),
            ("info-major-2", info_major2), ("info-major-3", info_major3), ("info-major-access", info_major_override),
            ("from-major", from_major), ("from-major-access", from_major_override),
            ("to-major", to_major), ("access-override", access), ("cost-override", cost),
            ("pass1-alone", pass1_alone), ("pois", pois), ("heading", heading), ("mixed", mixed)]


def error_requests(net):
    p = Network.text(net.point())
    return [("error", "profile=profiles/car.vpf&lonlats=%s" % p),
            ("error", "profile=profiles/absent.vpf&lonlats=%s;%s" % (p, Network.text(net.point()))),
            ("error", "profile=profiles/foot.vpf&lonlats=%s;30.5,10.5" % p),
            ("error", "profile=profiles/bike.vpf&lonlats=%s;%s&alternativeidx=-1" % (p, Network.text(net.point())))]


def make_requests(count, seed):
    """[(label, query)]: count requests over the two networks, half each,
    cycling through the profiles and kinds, and four malformed ones each."""
    rng = random.Random(seed)
    networks = [Network("demo", rng, way_positions(os.path.join(GOLDEN, "demo.answers")), DEMO_MAJOR),
                Network("gothenburg", rng, way_positions(os.path.join(GOLDEN, "gothenburg.answers")), MAJOR)]
    kinds = route_kinds()
    requests = []
    for n, net in enumerate(networks):
        share = count // len(networks) + (1 if n < count % len(networks) else 0)
        for i in range(share):
            profile = PROFILES[i % len(PROFILES)]
            kind, build = kinds[(i // len(PROFILES)) % len(kinds)]
            requests.append(("%s %s %s" % (net.name, profile, kind),
                             "profile=profiles/%s.vpf&%s" % (profile, build(net, profile))))
        requests.extend(("%s %s" % (net.name, label), query) for label, query in error_requests(net))
    return requests


# --- the service ------------------------------------------------------------------


def answers_of(router, segments, queries, timeout=900):
    """One process answers the queries in order: [bytes "<ok>\\t<answer>"], None
    for each line it did not answer."""
    lines = b"".join(b"%d\t%s\n" % (i + 1, q.encode()) for i, q in enumerate(queries)) + b"quit\n"
    answers = [None] * len(queries)
    try:
        done = subprocess.run([router, segments], cwd=REPO, input=lines, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return answers
    out = done.stdout.split(b"\n")
    if out[0] != b"ready":
        return answers
    for line in out[1:]:
        ident, _, rest = line.partition(b"\t")
        if ident.isdigit() and 0 < int(ident) <= len(queries):
            answers[int(ident) - 1] = normalised(rest)
    return answers


class Service:
    """One service process asked one request at a time."""

    def __init__(self, router, segments):
        self.process = subprocess.Popen([router, segments], cwd=REPO, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE)
        self.next_id = 0
        if self.process.stdout.readline() != b"ready\n":
            raise RuntimeError("the service did not start")

    def ask(self, query):
        self.next_id += 1
        try:
            self.process.stdin.write(b"%d\t%s\n" % (self.next_id, query.encode()))
            self.process.stdin.flush()
        except BrokenPipeError:
            return None
        line = self.process.stdout.readline()
        ident, _, rest = line.rstrip(b"\n").partition(b"\t")
        return normalised(rest) if ident == b"%d" % self.next_id else None

    def close(self):
        self.process.communicate(b"quit\n", timeout=60)


def short_diff(fresh, here):
    """The two answers in brief: totals of routes, else the first difference."""

    def totals(answer):
        if answer is None:
            return "no answer"
        ok, _, body = answer.partition(b"\t")
        try:
            features = json.loads(body)["features"]
        except ValueError:
            return "%s %s" % (ok.decode(), body[:120].decode("utf-8", "replace"))
        return "%s %s" % (ok.decode(), "; ".join("length %s m, cost %s, %d points" % (
            f["properties"].get("track-length"), f["properties"].get("cost"), len(f["geometry"]["coordinates"]))
            for f in features))

    a, b = totals(fresh), totals(here)
    if a == b and fresh is not None and here is not None:
        i = next((i for i, (x, y) in enumerate(zip(fresh, here)) if x != y), min(len(fresh), len(here)))
        a = "... %s ..." % fresh[max(0, i - 40):i + 40].decode("utf-8", "replace")
        b = "... %s ..." % here[max(0, i - 40):i + 40].decode("utf-8", "replace")
    return "fresh: %s\n      here:  %s" % (a, b)


# --- scratch files ------------------------------------------------------------------


def segment_directory(build, scratch):
    """Both networks' files in one directory: the demo town's two and Gothenburg's."""
    segments = os.path.join(scratch, "segments")
    shutil.copytree(os.path.join(build, "demo", "segments"), segments)
    shutil.copy(os.path.join(GOLDEN, "gothenburg", "E10_N55.rd5"), segments)
    return segments


def street_grid(west, south, east, north, step, hgt_name, build, target, lon_step=None):
    """A segment file of a street grid (residential streets, every fourth a
    tertiary road, one primary diagonal) written by realdata_convert; its path.
    Streets run every `step` degrees north-south and every `lon_step` (1.5 x
    step unless given) east-west."""
    convert = os.path.join(build, "bench", "realdata", "realdata_convert")
    if not os.path.exists(convert):
        raise RuntimeError("%s is missing: every build makes it, build first" % convert)
    work = os.path.join(target, "work")
    os.makedirs(work)
    ways = []
    lon_step = step * 1.5 if lon_step is None else lon_step
    lons = [west + i * lon_step for i in range(int((east - west) / lon_step) + 1)]
    lats = [south + i * step for i in range(int((north - south) / step) + 1)]
    for i, lon in enumerate(lons):
        kind = "tertiary" if i % 4 == 0 else "residential"
        ways.append("%d\t%s\thighway=%s" % (len(ways) + 1, ";".join("%.6f,%.6f" % (lon, lat) for lat in lats), kind))
    for i, lat in enumerate(lats):
        kind = "tertiary" if i % 4 == 0 else "residential"
        ways.append("%d\t%s\thighway=%s" % (len(ways) + 1, ";".join("%.6f,%.6f" % (lon, lat) for lon in lons), kind))
    diagonal = [(lons[k], lats[k]) for k in range(min(len(lons), len(lats)))]
    ways.append("%d\t%s\thighway=primary\tmaxspeed=70" % (len(ways) + 1, ";".join("%.6f,%.6f" % p for p in diagonal)))
    with open(os.path.join(work, "ways.tsv"), "w") as f:
        f.write("\n".join(ways) + "\n")
    # A plane rising eastwards, one metre every four samples.
    row = array.array("h", [100 + c // 4 for c in range(1201)])
    if sys.byteorder == "little":
        row.byteswap()
    with open(os.path.join(work, hgt_name), "wb") as f:
        f.write(row.tobytes() * 1201)
    subprocess.run([convert, os.path.join(work, "ways.tsv"), os.path.join(work, hgt_name),
                    os.path.join(REPO, "profiles", "lookups.dat"), target, os.path.join(work, "grid.osm")],
                   check=True, capture_output=True)
    shutil.rmtree(work)
    return target


# --- the checks ---------------------------------------------------------------------


def fresh_answers(router, segments, queries, jobs):
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        return list(pool.map(lambda q: answers_of(router, segments, [q], timeout=120)[0], queries))


def ordered_runs(router, segments, requests, fresh, seeds, show):
    """Asks every request of one process in each shuffled order; prints and counts
    the answers that differ from the fresh ones."""
    differing = {}
    per_order = []
    for n, seed in enumerate(seeds, 1):
        order = list(range(len(requests)))
        random.Random(seed).shuffle(order)
        answers = answers_of(router, segments, [requests[i][1] for i in order])
        count = 0
        for position, (i, answer) in enumerate(zip(order, answers)):
            if answer != fresh[i]:
                count += 1
                before = requests[order[position - 1]][1] if position else "(nothing)"
                differing.setdefault(i, []).append((n, position + 1, before, answer))
        per_order.append(count)
    shown = 0
    for i, cases in sorted(differing.items()):
        label, query = requests[i]
        if shown < show:
            n, position, before, answer = cases[0]
            print("DIFFERS [%s] in order %s: %s" % (label, ",".join(str(c[0]) for c in cases), query))
            print("      order %d line %d, after: %s" % (n, position, before))
            print("      %s" % short_diff(fresh[i], answer))
        shown += 1
    if shown > show:
        print("... and %d more differing requests (--show)" % (shown - show))
    classes = {}
    for i in differing:
        label = requests[i][0]
        classes[label] = classes.get(label, 0) + 1
    if classes:
        print("differing requests by class: " + ", ".join("%s %d" % kv for kv in sorted(classes.items())))
    return per_order, len(differing)


DEMO_CAR = "lonlats=10.0,47.53;10.0,47.51"
# Requests at two motorway positions in Gothenburg whose answers once depended
# on the one asked before.
MOTORWAY_INFO = "profile=profiles/car.vpf&lonlats=11.995177,57.712697&engineMode=3"
MOTORWAY_ROUTE = "profile=profiles/car.vpf&lonlats=11.995177,57.712697;11.990,57.700"
MOTORWAY2_INFO = "profile=profiles/car.vpf&lonlats=11.980247,57.725551&engineMode=2"
MOTORWAY2_ROUTE = "profile=profiles/car.vpf&lonlats=11.980247,57.725551;11.990356,57.706595"


def sequence_cases():
    """Fixed sequences, each asked of one process, every answer checked."""
    return [(name, [(q, True) for q in queries]) for name, queries in [
        ("route from a motorway position, then point information there", [MOTORWAY_ROUTE, MOTORWAY_INFO]),
        ("point information at a motorway position, then a route from there", [MOTORWAY_INFO, MOTORWAY_ROUTE]),
        ("way segment at a motorway position, then a route from there", [MOTORWAY2_INFO, MOTORWAY2_ROUTE]),
        ("the same, with check_start_way=0 first",
         [MOTORWAY2_INFO + "&profile:check_start_way=0", MOTORWAY2_ROUTE, MOTORWAY2_INFO]),
    ]]


def replace_keeping_time(path, text):
    stat = os.stat(path)
    with open(path, "w") as f:
        f.write(text)
    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))


def set_newer_time(path, seconds):
    stat = os.stat(path)
    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns + seconds * 1000000000))


def profile_cases(segments, scratch):
    """(name, steps): a step is a query to ask or a function changing files; the
    answer to a query marked checked must equal a fresh process's."""
    profiles = os.path.join(scratch, "profiles")
    shutil.copytree(os.path.join(REPO, "profiles"), profiles)
    car, foot = os.path.join(profiles, "car.vpf"), os.path.join(profiles, "foot.vpf")
    lookups = os.path.join(profiles, "lookups.dat")
    car_route = "profile=%s&%s" % (car, DEMO_CAR)
    foot_route = "profile=%s&lonlats=10.0,47.5254;10.0173,47.498" % foot
    car_city = "profile=%s&lonlats=11.977085,57.722362;11.976596,57.710480" % car
    original = {}
    for path in (car, lookups):
        with open(path) as f:
            original[path] = f.read()
    no_bridges = original[car].replace("if or not car_allowed wrong_way",
                                       "if or or not car_allowed wrong_way bridge=yes")
    if no_bridges == original[car]:
        raise RuntimeError("car.vpf has changed: the no-bridge variant needs a new edit")
    # Residential streets and service roads trade codes: the same files read differently.
    swapped = original[lookups].replace("highway residential\nhighway service\n",
                                        "highway service\nhighway residential\n")
    if swapped == original[lookups]:
        raise RuntimeError("lookups.dat has changed: the swapped variant needs a new edit")

    def restore():
        for path, text in original.items():
            with open(path, "w") as f:
                f.write(text)

    return [
        ("profile replaced, time kept, after another profile took the slot",
         [restore, car_route, foot_route, lambda: replace_keeping_time(car, no_bridges), (car_route, True),
          (car_city, True)]),
        ("lookup table replaced, time kept, after another profile took the slot",
         [restore, car_route, car_city, foot_route, lambda: replace_keeping_time(lookups, swapped),
          (car_route, True), (car_city, True)]),
        ("profile replaced with a new time while it holds the slot",
         [restore, car_route, lambda: (replace_keeping_time(car, no_bridges), set_newer_time(car, 10)),
          (car_route, True), (car_city, True)]),
    ]


def segment_cases(build, segments, scratch):
    """A variant of a demo file and of the Gothenburg file, each put in place by
    a move and by overwriting, then the original put back."""
    demo_grid = street_grid(10.0005, 47.4905, 10.0395, 47.5495, 0.003, "N47E010.hgt", build,
                            os.path.join(scratch, "grid-demo"))
    city_grid = street_grid(11.9505, 57.6805, 12.0195, 57.7395, 0.003, "N57E011.hgt", build,
                            os.path.join(scratch, "grid-city"))
    originals = os.path.join(scratch, "originals")
    os.makedirs(originals)
    cases = []
    for name, grid, queries in [
            ("E10_N45.rd5", demo_grid, ["profile=profiles/car.vpf&lonlats=10.012,47.527;10.005,47.515",
                                        "profile=profiles/bike.vpf&lonlats=10.0173,47.498&engineMode=2",
                                        "profile=profiles/foot.vpf&lonlats=9.99,47.519;10.012,47.527"]),
            ("E10_N55.rd5", city_grid, ["profile=profiles/car.vpf&lonlats=11.977085,57.722362;11.976596,57.710480",
                                        "profile=profiles/foot.vpf&lonlats=12.002712,57.691180&engineMode=3",
                                        "profile=profiles/bike.vpf&lonlats=11.991750,57.714058&engineMode=4"
                                        "&direction=217&roundTripDistance=800&roundTripPoints=5"])]:
        live, saved, variant = os.path.join(segments, name), os.path.join(originals, name), os.path.join(grid, name)
        shutil.copy2(live, saved)

        def moved(source, target=live):
            staged = target + ".new"
            shutil.copyfile(source, staged)
            os.replace(staged, target)

        def overwritten(source, target=live):
            shutil.copyfile(source, target)

        for how, put in (("moved over", moved), ("overwritten in place", overwritten)):
            # Asked at once after each change, and again once the file has
            # settled (the service then finds its tiles by their place in it).
            steps = [lambda s=saved: moved(s), settle] + queries
            steps += [lambda v=variant, p=put: p(v)] + [(q, True) for q in queries]
            steps += [settle] + [(q, True) for q in queries]
            steps += [lambda s=saved, p=put: p(s)] + [(q, True) for q in queries]
            steps += [settle] + [(q, True) for q in queries]
            cases.append(("segment file %s %s by a variant, and back" % (name, how), steps))
    return cases


def settle():
    """Waits until a file written just now counts as settled: written more
    than a second ago."""
    time.sleep(1.2)


def run_case(router, segments, steps):
    """Runs the steps in one process: the checked answers that differ from a
    fresh process's, [(query, fresh, here)], and whether any fresh answer
    differs from the process's first answer to its query (else the change of
    files changed nothing and the case proves nothing)."""
    service = Service(router, segments)
    differing = []
    first = {}
    # A sequence that changes no file needs no change of answers.
    effective = not any(callable(step) for step in steps)
    try:
        for step in steps:
            if callable(step):
                step()
                continue
            query, checked = step if isinstance(step, tuple) else (step, False)
            here = service.ask(query)
            first.setdefault(query, here)
            if checked:
                fresh = answers_of(router, segments, [query], timeout=120)[0]
                effective = effective or fresh != first[query]
                if here != fresh:
                    differing.append((query, fresh, here))
    finally:
        try:
            service.close()
        except (subprocess.TimeoutExpired, BrokenPipeError):
            service.process.kill()
    return differing, effective


def fixed_cases(router, build, segments, scratch):
    failed = 0
    cases = sequence_cases() + profile_cases(segments, scratch) + segment_cases(build, segments, scratch)
    for name, steps in cases:
        differing, effective = run_case(router, segments, steps)
        verdict = "DIFFERS" if differing else "same as fresh" if effective else "CHANGES NO ANSWER (needs new files)"
        print("case: %s: %s" % (name, verdict))
        for query, fresh, here in differing:
            print("    %s\n      %s" % (query, short_diff(fresh, here)))
        failed += 1 if differing or not effective else 0
    return len(cases), failed


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(REPO, "build"),
                        help="build directory: the demo segments, realdata_convert and, by default, the service")
    parser.add_argument("--binary", help="the service to check (default <build>/trevassa-router)")
    parser.add_argument("--requests", type=int, default=720, help="route requests, half on each network")
    parser.add_argument("--seed", type=int, default=18, help="seed of the requests and the orders")
    parser.add_argument("--jobs", type=int, default=4, help="fresh processes at a time")
    parser.add_argument("--show", type=int, default=25, help="differing requests shown in detail")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    router = os.path.abspath(args.binary or os.path.join(build, "trevassa-router"))
    requests = make_requests(args.requests, args.seed)
    queries = [q for _, q in requests]
    with tempfile.TemporaryDirectory(prefix="ferrow-history-") as scratch:
        segments = segment_directory(build, scratch)
        fresh = fresh_answers(router, segments, queries, args.jobs)
        no_answer = sum(1 for a in fresh if a is None)
        for i, answer in enumerate(fresh):
            if answer is None:
                print("NO ANSWER from a fresh process [%s]: %s" % requests[i])
        per_order, differing = ordered_runs(router, segments, requests, fresh, [args.seed + 1, args.seed + 2],
                                            args.show)
        cases, failed = fixed_cases(router, build, segments, scratch)
    routes = sum(1 for a in fresh if a is not None and a.startswith(b"1\t"))
    print("history check: requests %d (%d routes, %d errors), fresh processes %d, one-process orders %d, "
          "differing answers %d (%s) in %d requests, fresh processes without answer %d, fixed cases %d of %d differ"
          % (len(requests), routes, len(requests) - routes, len(requests), len(per_order), sum(per_order),
             " + ".join(str(n) for n in per_order), differing, no_answer, failed, cases))
    return 0 if differing == 0 and failed == 0 and no_answer == 0 else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except RuntimeError as e:
        sys.exit("history check: %s" % e)
